package COM.morvent.zel;

/**
 * Loads the native bridge library {@code zelJava_sh} exactly once.
 *
 * <p>The static initializers of {@link ZelConfig} and {@link ZelPathVector} call
 * {@link #ensureLoaded()}, so whichever class is initialised first loads the library and the
 * other finds it loaded. By default the library is found by {@link System#loadLibrary(String)}
 * on {@code java.library.path}. Setting the system property {@value #PATH_PROPERTY} to the
 * absolute path of the library file (for example {@code -Dzel.library.path=/opt/zel/lib/libzelJava_sh.so})
 * loads that file with {@link System#load(String)} instead, which is handy for tests and for
 * running from a build tree.
 */
final class ZelNative {
    /** Name of the bridge as given to {@link System#loadLibrary(String)}. */
    static final String LIBRARY_NAME = "zelJava_sh";

    /** System property holding an absolute path to the bridge library; overrides the search. */
    static final String PATH_PROPERTY = "zel.library.path";

    static {
        String path = System.getProperty(PATH_PROPERTY);
        if (path != null && !path.isEmpty()) {
            System.load(path);
        } else {
            System.loadLibrary(LIBRARY_NAME);
        }
    }

    private ZelNative() {
    }

    /**
     * Makes sure the bridge is loaded. The work happens in this class's static initializer,
     * which the JVM runs once; later calls do nothing.
     *
     * @throws UnsatisfiedLinkError if the library cannot be found or loaded
     */
    static void ensureLoaded() {
    }
}
