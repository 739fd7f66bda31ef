package COM.morvent.zel;

import java.util.Arrays;
import java.util.Collections;
import java.util.List;

/** A call of the bridge that failed, with the library's warnings about it; see {@link ZelWarnings}. */
public class ZelException extends RuntimeException {
    private static final long serialVersionUID = 1L;

    /** The library's warnings about the failed call, in order. */
    private final String[] warnings;

    /**
     * @param what     what was attempted
     * @param warnings the library's warnings about it, in order
     */
    public ZelException(String what, List<String> warnings) {
        super(what + " failed" + (warnings.isEmpty() ? " (the library gave no warning)" : ": " + String.join("; ", warnings)));
        this.warnings = warnings.toArray(new String[0]);
    }

    /** @return the library's warnings about the failed call, in order */
    public List<String> getWarnings() {
        return Collections.unmodifiableList(Arrays.asList(warnings));
    }
}
