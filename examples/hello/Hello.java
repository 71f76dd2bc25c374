// The smallest program to compile with se_javac and run: prints one line.
public class Hello {
    public static void main(String[] args) {
        System.out.println("Hello from a class compiled by se_javac!");
    }
}
