/* The stand-in VM for start-up timing: it ends at once, successfully. */
int main(void) {
    return 0;
}
