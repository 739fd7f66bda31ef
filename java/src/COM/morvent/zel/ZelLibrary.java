package COM.morvent.zel;

import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.net.URL;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.security.CodeSource;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Locale;

/**
 * The native library {@code zelJava_sh} behind {@link ZelConfig} and {@link ZelPathVector}: its
 * version, and where it was loaded from.
 *
 * <p>The first use of either class loads the library, once per process. The first of these
 * places that has it wins:
 * <ol>
 * <li>the system property {@value #PATH_PROPERTY}, when set: the library file itself, or a
 *     folder holding {@code libzelJava_sh.so} ({@code zelJava_sh.dll} on Windows). Nothing else
 *     is tried then;</li>
 * <li>each folder of {@code java.library.path}, in order (on Debian this includes
 *     {@code /usr/lib/x86_64-linux-gnu/jni}, where the package installs it);</li>
 * <li>the copy that {@code zel.jar} carries for this platform ({@link #platform()}), copied out
 *     to a private temporary file, or, when the system property {@value #EXTRACT_PROPERTY} names
 *     a folder, to a file in that folder that later runs reuse.</li>
 * </ol>
 * When none of them gives a library that loads, the error names the platform, every place tried
 * and why it did not serve. A library of another version than these classes is refused: the
 * error says which file it was and both versions.
 */
public final class ZelLibrary {
    /** System property: the native library file, or the folder that holds it. */
    public static final String PATH_PROPERTY = "zel.library.path";

    /**
     * System property: a folder to copy the jar's native library to, instead of a temporary file
     * (for a temporary folder that does not allow loading libraries, or to keep one copy).
     */
    public static final String EXTRACT_PROPERTY = "zel.library.extract";

    /** Name of the bridge as given to {@link System#mapLibraryName(String)}. */
    static final String LIBRARY_NAME = "zelJava_sh";

    /** Folder of the jar, next to these classes, that holds one folder per platform. */
    private static final String NATIVE_FOLDER = "native/";

    private static String loadedFrom;
    private static String failure;

    /**
     * Set once the JVM has begun to exit. A call into the bridge that waits for a configuration
     * whose holder is stuck in a warning listener reads it (through JNI) and then gives up with
     * its neutral answer instead of holding up the exit; see {@link ZelConfig}, "Threads".
     */
    static volatile boolean exiting;

    private ZelLibrary() {
    }

    /**
     * The version of these Java classes.
     *
     * @return the version, for example {@code "1.0.0"}
     */
    public static String version() {
        return ZelVersion.VERSION;
    }

    /**
     * The version that the native library reports; loads it first if needed. It equals
     * {@link #version()}: a library of another version does not load.
     *
     * @return the native library's version
     * @throws UnsatisfiedLinkError when the library cannot be loaded
     */
    public static String nativeVersion() {
        ensureLoaded();
        return libraryVersion();
    }

    /**
     * Where the native library was loaded from; loads it first if needed.
     *
     * @return the file that was loaded; for the jar's own copy, the file it was copied to (a
     *         temporary file is deleted once loaded: the library stays loaded)
     * @throws UnsatisfiedLinkError when the library cannot be loaded
     */
    public static synchronized String libraryFile() {
        ensureLoaded();
        return loadedFrom;
    }

    /**
     * The platform this JVM runs on, named as the jar's folders of native libraries are.
     *
     * @return for example {@code "linux-x86_64"}, or {@code null} for a platform this release
     *         does not know
     */
    public static String platform() {
        return platform(System.getProperty("os.name"), System.getProperty("os.arch"));
    }

    /**
     * The folder name of a platform given as the JVM names it.
     *
     * @param osName the JVM's {@code os.name}, for example {@code "Linux"} or {@code "Windows 10"}
     * @param osArch the JVM's {@code os.arch}, for example {@code "amd64"} or {@code "x86"}
     * @return {@code "linux-x86_64"}, {@code "windows-x86"} and the like, or {@code null} when
     *         the operating system or the architecture is not one this release knows
     */
    public static String platform(String osName, String osArch) {
        if (osName == null || osArch == null) return null;
        String os = osName.toLowerCase(Locale.ROOT);
        String family;
        if (os.equals("linux")) {
            family = "linux";
        } else if (os.startsWith("windows")) {
            family = "windows";
        } else if (os.equals("mac os x") || os.equals("darwin")) {
            family = "macos";
        } else {
            return null;
        }
        String arch;
        switch (osArch.toLowerCase(Locale.ROOT)) {
            case "amd64": case "x86_64": case "x64":
                arch = "x86_64";
                break;
            case "x86": case "i386": case "i486": case "i586": case "i686":
                arch = "x86";
                break;
            case "aarch64": case "arm64":
                arch = "aarch64";
                break;
            default:
                return null;
        }
        return family + "-" + arch;
    }

    /**
     * Loads the library on first use; later calls only repeat the outcome. Called by the static
     * initialisers of {@link ZelConfig} and {@link ZelPathVector}.
     *
     * @throws UnsatisfiedLinkError when no place gives a library of this version that loads
     */
    static synchronized void ensureLoaded() {
        if (loadedFrom != null) return;
        if (failure == null) {
            try {
                loadedFrom = load();
                watchExit();
                return;
            } catch (UnsatisfiedLinkError e) {
                failure = e.getMessage();
            }
        }
        throw new UnsatisfiedLinkError(failure);
    }

    private static void watchExit() {
        try {
            Runtime.getRuntime().addShutdownHook(new Thread(() -> exiting = true, "zel-exit"));
        } catch (IllegalStateException alreadyExiting) {
            exiting = true;
        } catch (SecurityException notAllowed) {
            // Without the hook a call waits for a stuck listener's configuration as before.
        }
    }

    private static String load() {
        String file = System.mapLibraryName(LIBRARY_NAME);
        String override = System.getProperty(PATH_PROPERTY);
        if (override != null && !override.isEmpty()) {
            Path path = Path.of(override);
            if (Files.isDirectory(path)) path = path.resolve(file);
            String why = tryLoad(path);
            if (why != null) {
                throw new UnsatisfiedLinkError(LIBRARY_NAME + ": " + path + " given by -D" + PATH_PROPERTY
                                               + " does not load: " + why);
            }
            return checked(path.toAbsolutePath().toString(), "-D" + PATH_PROPERTY);
        }

        List<String> tried = new ArrayList<>();
        String searchPath = System.getProperty("java.library.path", "");
        for (String dir : searchPath.split(File.pathSeparator)) {
            if (dir.isEmpty()) continue;
            Path path = Path.of(dir, file);
            if (!Files.isRegularFile(path)) {
                tried.add(path + ": not there");
                continue;
            }
            String why = tryLoad(path);
            if (why == null) return checked(path.toAbsolutePath().toString(), "java.library.path");
            tried.add(path + ": " + why);
        }

        String platform = platform();
        String jar = jarLocation();
        if (platform == null) {
            tried.add(jar + ": holds no library for this platform (it holds: " + carried() + ")");
        } else {
            String resource = NATIVE_FOLDER + platform + "/" + file;
            URL url = ZelLibrary.class.getResource(resource);
            if (url == null) {
                tried.add(jar + ": holds no " + platform + "/" + file + " (it holds: " + carried() + ")");
            } else {
                Path copy = null;
                String why;
                try {
                    copy = extract(url, platform, file);
                    why = tryLoad(copy);
                } catch (IOException e) {
                    why = "cannot copy it out of the jar: " + e;
                } finally {
                    // Loaded or not, a private temporary copy is no longer needed (where the
                    // system keeps the file of a loaded library, deleting it fails harmlessly).
                    if (copy != null && System.getProperty(EXTRACT_PROPERTY, "").isEmpty()) {
                        deleteQuietly(copy);
                    }
                }
                if (why == null) return checked(copy.toString(), "zel.jar");
                tried.add(jar + ": its " + platform + "/" + file + " copied to " + copy + ": " + why
                          + " (a temporary folder that does not allow loading libraries? set -D"
                          + EXTRACT_PROPERTY + "=FOLDER)");
            }
        }
        StringBuilder message = new StringBuilder();
        message.append(LIBRARY_NAME).append(": no native library for ")
               .append(platform != null ? platform : "this platform")
               .append(" (os.name \"").append(System.getProperty("os.name"))
               .append("\", os.arch \"").append(System.getProperty("os.arch")).append("\"). Tried:");
        for (String place : tried) message.append("\n  ").append(place);
        message.append("\nGive the library of zelJava_sh ").append(version()).append(" (").append(file)
               .append(") with -D").append(PATH_PROPERTY).append("=FILE_OR_FOLDER.");
        throw new UnsatisfiedLinkError(message.toString());
    }

    /** Loads a file; gives null when it loaded, otherwise why not. */
    private static String tryLoad(Path path) {
        if (!Files.isRegularFile(path)) return "no such file";
        try {
            System.load(path.toAbsolutePath().toString());
            return null;
        } catch (UnsatisfiedLinkError e) {
            return e.getMessage();
        }
    }

    /** Refuses a loaded library whose version differs from these classes. */
    private static String checked(String file, String source) {
        String reported;
        try {
            reported = libraryVersion();
        } catch (UnsatisfiedLinkError e) {
            reported = null;  // a library from before versions were reported
        }
        if (!version().equals(reported)) {
            throw new UnsatisfiedLinkError(
                LIBRARY_NAME + ": the native library " + file + " (from " + source + ") is version "
                + (reported != null ? reported : "unknown (older than 1.0.0)") + ", but the Java classes are version "
                + version() + "; use the native library of the same release, or set -D" + PATH_PROPERTY
                + " to it");
        }
        return file;
    }

    /** Copies the jar's library out: to a private temporary file, or into the folder named. */
    private static Path extract(URL url, String platform, String file) throws IOException {
        byte[] bytes;
        try (InputStream in = url.openStream()) {
            bytes = in.readAllBytes();
        }
        String folder = System.getProperty(EXTRACT_PROPERTY, "");
        if (folder.isEmpty()) {
            // createTempFile makes the file readable and writable by its owner only.
            Path copy = Files.createTempFile(LIBRARY_NAME + "-" + version() + "-", "-" + file);
            Files.write(copy, bytes);
            return copy;
        }
        Path dir = Path.of(folder, LIBRARY_NAME + "-" + version() + "-" + platform);
        Files.createDirectories(dir);
        Path target = dir.resolve(file);
        if (Files.isRegularFile(target) && Arrays.equals(Files.readAllBytes(target), bytes)) return target;
        // Another process may be loading the same file: the new copy replaces it in one step.
        Path partial = Files.createTempFile(dir, file, ".part");
        try {
            Files.write(partial, bytes);
            Files.move(partial, target, StandardCopyOption.REPLACE_EXISTING, StandardCopyOption.ATOMIC_MOVE);
        } finally {
            deleteQuietly(partial);
        }
        return target;
    }

    /** The platforms whose libraries the jar carries, from the list written when it was built. */
    private static String carried() {
        try (InputStream in = ZelLibrary.class.getResourceAsStream(NATIVE_FOLDER + "platforms.txt")) {
            if (in == null) return "none";
            String list = new String(in.readAllBytes(), java.nio.charset.StandardCharsets.UTF_8).trim();
            return list.isEmpty() ? "none" : String.join(", ", list.split("\\s+"));
        } catch (IOException e) {
            return "unknown";
        }
    }

    private static String jarLocation() {
        CodeSource source = ZelLibrary.class.getProtectionDomain().getCodeSource();
        URL location = source != null ? source.getLocation() : null;
        return location != null ? location.getPath() : "zel.jar";
    }

    private static void deleteQuietly(Path path) {
        try {
            Files.deleteIfExists(path);
        } catch (IOException e) {
            path.toFile().deleteOnExit();
        }
    }

    /** The version compiled into the native library. */
    private static native String libraryVersion();
}
