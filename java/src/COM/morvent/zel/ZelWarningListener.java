package COM.morvent.zel;

/**
 * Receives the warnings that the configuration library emits while a configuration is opened
 * or saved, or while an instance is bound.
 *
 * <p>The natives that accept a listener declare it as {@code Object}: any object with a public
 * method {@code void processWarning(String)} is called. Implementing this interface is the
 * convenient way to provide one. Warnings are delivered on the calling thread, while the native
 * call that caused them is still running; the listener must not call back into the bridge.
 * A {@code null} listener discards the warnings.
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
