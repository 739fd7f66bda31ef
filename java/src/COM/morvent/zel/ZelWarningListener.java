package COM.morvent.zel;

/**
 * Receives the warnings that the configuration library emits while a configuration is opened
 * or saved, or while an instance is bound.
 *
 * <p>Each method that reports warnings has a form that takes this interface, so a lambda will
 * do: {@code config.open(lib, cell, view, "r", w -> System.err.println(w))}. Its native form
 * takes {@code Object}: any object with a public method {@code void processWarning(String)}.
 * {@link ZelWarnings} collects the warnings and turns a failed call into an exception.
 *
 * <p>Warnings are delivered on the calling thread, while the native call that caused them is
 * still running and holds the bridge's lock: the listener must not call back into the bridge,
 * nor wait for another thread that calls it. A {@code null} listener discards the warnings.
 */
@FunctionalInterface
public interface ZelWarningListener {
    /**
     * Called once for each warning.
     *
     * @param warning the warning text as the library wrote it
     */
    void processWarning(String warning);
}
