package COM.morvent.zel.walk;

import java.io.PrintStream;
import java.util.Locale;

/**
 * Shows on standard error how far the walk is: instances walked, instances a second, the depth
 * where it stands. On a terminal one line is rewritten in place; elsewhere (--progress into a
 * file) a line is added every few seconds. The clock is read once every 1,024 instances, so
 * that it costs the walk nothing measurable.
 */
public final class Progress {
    private static final long TERMINAL_EVERY_NS = 250_000_000L;
    private static final long FILE_EVERY_NS = 5_000_000_000L;

    private final PrintStream err;
    private final boolean shown;
    private final boolean terminal;
    private final long start = System.nanoTime();
    private long next;
    private long count;
    private int deepest;
    private boolean lineOpen;
    /** The count as another thread may read it, brought up to date every 1,024 instances. */
    private volatile long published;
    private volatile boolean stopAsked;

    /** Thrown out of the walk once {@link #stop} was asked: the walk closes its path vector on the way out. */
    public static final class Stopped extends RuntimeException {
        private static final long serialVersionUID = 1L;

        Stopped() {
            super("the walk was stopped", null, false, false);
        }
    }

    /**
     * @param err      standard error
     * @param shown    whether to show anything
     * @param terminal whether {@code err} is a terminal: the line is then rewritten in place
     */
    public Progress(PrintStream err, boolean shown, boolean terminal) {
        this.err = err;
        this.shown = shown;
        this.terminal = terminal;
        this.next = start + (terminal ? TERMINAL_EVERY_NS : FILE_EVERY_NS);
    }

    /** An instance was bound, {@code depth} levels below the top cell. */
    public void instance(int depth) {
        if (depth > deepest) deepest = depth;
        if ((++count & 1023) != 0) return;
        published = count;
        if (stopAsked) throw new Stopped();
        if (shown) tick(depth);
    }

    /** Ends the walk at its next 1,024th instance; may be called from any thread. */
    public void stop() {
        stopAsked = true;
    }

    /** Whether {@link #stop} was asked: a walk that checks at each instance ends at once. */
    public boolean stopping() {
        return stopAsked;
    }

    /** Instances walked so far, to the last 1,024, for another thread to show. */
    public long walked() {
        return published;
    }

    public long count() {
        return count;
    }

    public int deepest() {
        return deepest;
    }

    private void tick(int depth) {
        long now = System.nanoTime();
        if (now < next) return;
        next = now + (terminal ? TERMINAL_EVERY_NS : FILE_EVERY_NS);
        String text = String.format(Locale.ROOT, "%s: %,d instances, %,.0f a second, depth %d",
                                    Walk.NAME, count, count / seconds(now), depth);
        if (terminal) {
            err.print("\r" + text + "\u001b[K");
            lineOpen = true;
        } else {
            err.println(text);
        }
    }

    /** Clears the line in place, before a warning or the end. */
    public void clear() {
        if (lineOpen) err.print("\r\u001b[K");
        lineOpen = false;
    }

    /** The last line: how many instances in how long. */
    public void finish() {
        if (!shown) return;
        clear();
        double s = seconds(System.nanoTime());
        err.println(String.format(Locale.ROOT, "%s: %,d instances in %.1f s, %,.0f a second, %d levels deep",
                                  Walk.NAME, count, s, count / s, deepest));
    }

    private double seconds(long now) {
        return Math.max(1e-9, (now - start) / 1e9);
    }

    /**
     * Whether standard error is a terminal. Java cannot ask isatty of it; on Linux the descriptor's
     * link names the terminal device.
     */
    public static boolean stderrIsTerminal() {
        try {
            String target = java.nio.file.Files.readSymbolicLink(java.nio.file.Path.of("/proc/self/fd/2")).toString();
            return target.startsWith("/dev/pts/") || target.startsWith("/dev/tty");
        } catch (java.io.IOException | UnsupportedOperationException | SecurityException e) {
            return false;
        }
    }
}
