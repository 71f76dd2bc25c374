package fenmoor.zandrel.se.java.toJava;

import java.io.File;
import java.io.PrintStream;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.net.MalformedURLException;
import java.net.URL;
import java.net.URLClassLoader;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import javax.tools.JavaCompiler;
import javax.tools.ToolProvider;

/**
 * An example of the Java tool that the se_javac launcher starts. The launcher runs
 *
 * <pre>
 * java -Dtovik_version=... -Dtovik_build=... -Dtovik_vornex=... -classpath ... \
 *      fenmoor.zandrel.se.java.toJava.Main &lt;identity&gt; &lt;user arguments&gt;
 * </pre>
 *
 * and the first argument says which tool is wanted:
 *
 * <ul>
 *   <li>{@code se_javac}: compiles the remaining arguments, read as javac arguments, with the
 *       JDK's own compiler and exits with its result code;
 *   <li>{@code se_java}: runs the {@code main} method of a class, loaded from {@code -cp} /
 *       {@code -classpath} (default: the current directory).
 * </ul>
 *
 * With {@code -version} it prints the identity and the three system properties the launcher
 * passed, one per line. No arguments or an unknown identity: usage on standard error, exit 2.
 */
public final class Main {
    static final int EXIT_FAILURE = 1;
    static final int EXIT_USAGE = 2;

    private static final String VERSION_OPTION = "-version";
    private static final String[] PROPERTIES = {"tovik_version", "tovik_build", "tovik_vornex"};

    private Main() {}

    public static void main(String[] args) {
        if (args.length == 0) {
            exitWithUsage(null);
        }
        String identity = args[0];
        String[] rest = Arrays.copyOfRange(args, 1, args.length);
        switch (identity) {
            case "se_javac":
                System.exit(compile(rest));
                break;
            case "se_java":
                // Returns normally when the program's main does: the VM then ends as it would
                // for the program started directly (after its non-daemon threads).
                runClass(rest);
                break;
            default:
                exitWithUsage("unknown tool identity: " + identity);
        }
    }

    /** se_javac: -version anywhere wins; everything else goes to the JDK's compiler. */
    static int compile(String[] arguments) {
        if (Arrays.asList(arguments).contains(VERSION_OPTION)) {
            printVersion("se_javac", System.out);
            return 0;
        }
        JavaCompiler compiler = ToolProvider.getSystemJavaCompiler();
        if (compiler == null) {
            System.err.println("se_javac: this Java runtime has no compiler; JDK_HOME must name a JDK");
            return EXIT_FAILURE;
        }
        return compiler.run(null, null, null, arguments);
    }

    /**
     * se_java: [-version] [-cp|-classpath path] class [arguments]. Options are read up to the
     * class name; everything after it belongs to the program, -version included.
     */
    static void runClass(String[] arguments) {
        String classPath = ".";
        int index = 0;
        for (; index < arguments.length && arguments[index].startsWith("-"); ++index) {
            String option = arguments[index];
            if (option.equals(VERSION_OPTION)) {
                printVersion("se_java", System.out);
                System.exit(0);
            } else if (option.equals("-cp") || option.equals("-classpath")) {
                if (index + 1 == arguments.length) {
                    exitWithUsage("se_java: " + option + " needs a class path");
                }
                classPath = arguments[++index];
            } else {
                exitWithUsage("se_java: unknown option: " + option);
            }
        }
        if (index == arguments.length) {
            exitWithUsage("se_java: no class name given");
        }
        String className = arguments[index];
        String[] programArguments = Arrays.copyOfRange(arguments, index + 1, arguments.length);

        // The parent of the application loader as parent (the platform loader from Java 9 on,
        // the extension loader on Java 8): the program sees the JDK's classes, not this tool's.
        URLClassLoader loader = new URLClassLoader(
                classPathUrls(classPath), ClassLoader.getSystemClassLoader().getParent());
        Method main;
        try {
            Class<?> programClass = Class.forName(className, false, loader);
            main = programClass.getMethod("main", String[].class);
        } catch (ClassNotFoundException | LinkageError e) {
            System.err.println("se_java: cannot load class " + className + ": " + e);
            System.exit(EXIT_FAILURE);
            return;
        } catch (NoSuchMethodException e) {
            System.err.println("se_java: no method public static void main(String[]) in " + className);
            System.exit(EXIT_FAILURE);
            return;
        }
        if (!Modifier.isStatic(main.getModifiers())) {
            System.err.println("se_java: main is not static in " + className);
            System.exit(EXIT_FAILURE);
        }
        Thread.currentThread().setContextClassLoader(loader);
        try {
            main.invoke(null, (Object) programArguments);
        } catch (InvocationTargetException e) {
            System.err.print("Exception in thread \"" + Thread.currentThread().getName() + "\" ");
            e.getCause().printStackTrace();
            System.exit(EXIT_FAILURE);
        } catch (IllegalAccessException e) {
            System.err.println("se_java: cannot call main of " + className + ": " + e);
            System.exit(EXIT_FAILURE);
        }
    }

    /** The entries of a class path in the platform's list syntax; an empty entry is ".". */
    static URL[] classPathUrls(String classPath) {
        List<URL> urls = new ArrayList<>();
        for (String entry : classPath.split(File.pathSeparator, -1)) {
            try {
                // File.toURI ends an existing directory with "/", which URLClassLoader needs.
                urls.add(new File(entry.isEmpty() ? "." : entry).toURI().toURL());
            } catch (MalformedURLException e) {
                exitWithUsage("se_java: bad class path entry: " + entry);
            }
        }
        return urls.toArray(new URL[0]);
    }

    static void printVersion(String identity, PrintStream out) {
        out.println(identity);
        for (String name : PROPERTIES) {
            String value = System.getProperty(name);
            out.println(value == null ? name + " (not set)" : name + "=" + value);
        }
    }

    private static void exitWithUsage(String problem) {
        PrintStream err = System.err;
        if (problem != null) {
            err.println(problem);
        }
        err.println("usage: java " + Main.class.getName() + " <tool> [arguments]");
        err.println("  se_javac [-version] <javac arguments>");
        err.println("      compile with the JDK's compiler");
        err.println("  se_java [-version] [-cp <class path>] <class> [arguments]");
        err.println("      run the main method of <class>");
        System.exit(EXIT_USAGE);
    }
}
