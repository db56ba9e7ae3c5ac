// A Java program a launcher script starts, like the gateway's: it does nothing but wait to be
// ended. Its one argument is a marker that lets a test find its processes by command line. It
// ends by itself after ten minutes so that it never outlives a test for long.

public class LaunchedSleeper {
    public static void main(String[] args) throws InterruptedException {
        Thread.sleep(10L * 60 * 1000);
    }
}
