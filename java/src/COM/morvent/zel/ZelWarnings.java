package COM.morvent.zel;

import java.util.ArrayList;
import java.util.Collections;
import java.util.List;

/**
 * A listener that keeps the warnings it receives, for callers who would rather have an
 * exception carrying the warnings than a {@code false} answer:
 * <pre>{@code
 * ZelWarnings warnings = new ZelWarnings();
 * warnings.check(config.open(lib, cell, view, "a", warnings), "open " + lib + "/" + cell + "/" + view);
 * ...
 * warnings.check(config.save(warnings), "save");
 * }</pre>
 * {@link #check(boolean, String)} hands over the warnings gathered since the last check, so one
 * collector serves a sequence of calls.
 */
public final class ZelWarnings implements ZelWarningListener {
    private final List<String> warnings = new ArrayList<>();

    /** Creates an empty collector. */
    public ZelWarnings() {
    }

    @Override
    public synchronized void processWarning(String warning) {
        warnings.add(warning);
    }

    /** @return the warnings gathered since the last {@link #check(boolean, String)}, in order */
    public synchronized List<String> warnings() {
        return Collections.unmodifiableList(new ArrayList<>(warnings));
    }

    /**
     * Ends a call: takes the warnings gathered since the last check, and throws them when the
     * call failed.
     *
     * @param succeeded the call's answer
     * @param what      what was attempted, for the exception's message ({@code "open a/b/c"})
     * @return the warnings of a call that succeeded (often none)
     * @throws ZelException when {@code succeeded} is false; it carries the warnings
     */
    public synchronized List<String> check(boolean succeeded, String what) {
        List<String> taken = Collections.unmodifiableList(new ArrayList<>(warnings));
        warnings.clear();
        if (!succeeded) throw new ZelException(what, taken);
        return taken;
    }
}
