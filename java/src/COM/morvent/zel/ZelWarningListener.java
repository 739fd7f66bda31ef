package COM.morvent.zel;

/**
 * Receives the warnings that the configuration library emits while a configuration is opened
 * or saved, or while an instance is bound.
 *
 * <p>Each method that reports warnings has a form that takes this interface, so a lambda will
 * do: {@code config.open(lib, cell, view, "r", w -> System.err.println(w))}. Its native form
 * takes {@code Object}: any object with a public method {@code void processWarning(String)}.
 * {@link ZelWarnings} collects the warnings and turns a failed call into an exception. Warnings
 * are delivered on the calling thread, in order, while the native call that caused them is
 * still running and holds its configuration's lock.
 *
 * <p>A listener may call back into the bridge, but such a call does nothing: it answers
 * {@code false}, {@code 0} or {@code null} (or returns at once), without reaching the library,
 * so that nothing the warning call is using can be closed, destroyed or changed under it. Act on
 * a warning after the call returns. A listener must not wait for another thread's call into the
 * bridge (for example by joining it or taking a lock that thread holds while calling): that
 * thread waits for the lock the listener's own thread holds, and neither would go on. An
 * exception the listener throws ends the delivery of that call's warnings and is thrown again
 * when the call returns. A {@code null} listener discards the warnings.
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
