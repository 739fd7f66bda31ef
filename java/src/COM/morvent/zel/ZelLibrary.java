package COM.morvent.zel;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.net.URL;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.nio.file.attribute.PosixFilePermissions;
import java.nio.file.attribute.UserPrincipal;
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
 *     to a private temporary file; when that does not load (a temporary folder mounted
 *     {@code noexec}), to {@code zel/} in the user's cache folder ({@code $XDG_CACHE_HOME} or
 *     {@code ~/.cache}), where later runs reuse it. When the system property
 *     {@value #EXTRACT_PROPERTY} names a folder, it goes there instead, into a folder of this
 *     user's own, so that several users may share the folder named.</li>
 * </ol>
 * The JVM loads one file into one class loader only: the classes loaded again by another class
 * loader load a copy of their own. When no place gives a library that loads, the error names the
 * platform, every place tried and why it did not serve. A library of another version than these
 * classes is refused: the error says which file it was and both versions.
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
    private static UserPrincipal user;

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
            Path path = Paths.get(override);
            if (Files.isDirectory(path)) path = path.resolve(file);
            List<String> tried = new ArrayList<>();
            Path loaded = loadFile(path, file, tried);
            if (loaded == null) {
                throw new UnsatisfiedLinkError(LIBRARY_NAME + ": " + path + " given by -D" + PATH_PROPERTY
                                               + " does not load: " + String.join("; ", tried));
            }
            return checked(loaded.toString(), "-D" + PATH_PROPERTY);
        }

        List<String> tried = new ArrayList<>();
        String searchPath = System.getProperty("java.library.path", "");
        for (String dir : searchPath.split(File.pathSeparator)) {
            if (dir.isEmpty()) continue;
            Path path = Paths.get(dir, file);
            if (!Files.isRegularFile(path)) {
                tried.add(path + ": not there");
                continue;
            }
            Path loaded = loadFile(path, file, tried);
            if (loaded != null) return checked(loaded.toString(), "java.library.path");
        }

        String platform = platform();
        String jar = jarLocation();
        URL url = platform == null ? null : ZelLibrary.class.getResource(NATIVE_FOLDER + platform + "/" + file);
        if (url == null) {
            tried.add(jar + ": holds no " + (platform == null ? "library for this platform" : platform + "/" + file)
                      + " (it holds: " + carried() + ")");
        } else {
            byte[] bytes = null;
            try (InputStream in = url.openStream()) {
                bytes = readAll(in);
            } catch (IOException e) {
                tried.add(jar + ": cannot read its " + platform + "/" + file + ": " + e);
            }
            Path loaded = bytes == null ? null : loadCopy(bytes, file, jar + ": its " + platform + "/" + file, tried);
            if (loaded != null) return checked(loaded.toString(), "zel.jar");
        }
        StringBuilder message = new StringBuilder();
        message.append(LIBRARY_NAME).append(": no native library for ")
               .append(platform != null ? platform : "this platform")
               .append(" (os.name \"").append(System.getProperty("os.name"))
               .append("\", os.arch \"").append(System.getProperty("os.arch")).append("\"). Tried:");
        for (String place : tried) message.append("\n  ").append(place);
        message.append("\nGive the library of zelJava_sh ").append(version()).append(" (").append(file)
               .append(") with -D").append(PATH_PROPERTY).append("=FILE_OR_FOLDER.");
        if (extractFolder() == null && tried.stream().anyMatch(ZelLibrary::cannotMap)) {
            message.append(" Or, when no folder above lets libraries load (mounted noexec), name one that does with -D")
                   .append(EXTRACT_PROPERTY).append("=FOLDER.");
        }
        throw new UnsatisfiedLinkError(message.toString());
    }

    /**
     * Loads a library file; gives the file loaded, or null after adding to {@code tried} why not.
     * The JVM loads one file into one class loader only: a second class loader gets a copy.
     */
    private static Path loadFile(Path path, String file, List<String> tried) {
        String why = tryLoad(path);
        if (why == null) return path.toAbsolutePath();
        if (!why.contains("already loaded in another classloader")) {
            tried.add(path + ": " + why);
            return null;
        }
        try {
            return loadCopy(Files.readAllBytes(path), file, path + " (loaded by another class loader)", tried);
        } catch (IOException e) {
            tried.add(path + ": loaded by another class loader, and cannot be read for a copy: " + e);
            return null;
        }
    }

    /**
     * Copies a library out and loads the copy: into the folder of {@value #EXTRACT_PROPERTY} when
     * set; otherwise to a private temporary file, then (a temporary folder may be mounted noexec)
     * into the user's cache folder. Gives the file loaded, or null after adding each place tried.
     */
    private static Path loadCopy(byte[] bytes, String file, String what, List<String> tried) {
        Path extract = extractFolder();
        if (extract != null) {
            return loadFromFolder(bytes, file, extract.resolve(folderName(true)), what, tried);
        }
        Path copy = null;
        String why;
        boolean written = false;
        try {
            // createTempFile makes the file readable and writable by its owner only.
            copy = Files.createTempFile(LIBRARY_NAME + "-" + version() + "-", "-" + file);
            Files.write(copy, bytes);
            written = true;
            why = tryLoad(copy);
        } catch (IOException e) {
            why = "cannot write it: " + e;
        } finally {
            // Loaded or not, the copy is no longer needed (where the system keeps the file of a
            // loaded library, deleting it fails harmlessly).
            if (copy != null) deleteQuietly(copy);
        }
        if (why == null) return copy;
        tried.add(what + " copied to " + (copy != null ? copy : "a temporary file") + ": " + why);
        // Only a temporary folder that cannot take the file or may not map code (mounted noexec)
        // is helped by another folder; a library that does not fit this system fails anywhere.
        Path cache = userCache();
        if (cache == null || (written && !cannotMap(why))) return null;
        return loadFromFolder(bytes, file, cache.resolve(folderName(false)), what, tried);
    }

    /**
     * Loads the copy kept in a folder of this user's, writing it first unless the same bytes are
     * there already; a class loader that finds that file loaded by another gets a copy of its own.
     */
    private static Path loadFromFolder(byte[] bytes, String file, Path dir, String what, List<String> tried) {
        Path target = dir.resolve(file);
        String why;
        try {
            ownFolder(dir);
            if (!Files.isRegularFile(target) || !Arrays.equals(Files.readAllBytes(target), bytes)) {
                // Another process may be loading the same file: the new copy replaces it in one step.
                Path partial = Files.createTempFile(dir, file, ".part");
                try {
                    Files.write(partial, bytes);
                    Files.move(partial, target, StandardCopyOption.REPLACE_EXISTING, StandardCopyOption.ATOMIC_MOVE);
                } finally {
                    deleteQuietly(partial);
                }
            }
            why = tryLoad(target);
            if (why == null) return target;
            if (why.contains("already loaded in another classloader")) {
                Path own = Files.createTempFile(dir, LIBRARY_NAME + "-", "-" + file);
                try {
                    Files.write(own, bytes);
                    why = tryLoad(own);
                    if (why == null) return own;
                    target = own;
                } finally {
                    deleteQuietly(own);
                }
            }
        } catch (IOException | RuntimeException e) {
            why = "cannot write it there: " + e;
        }
        tried.add(what + " copied to " + target + ": " + why);
        return null;
    }

    /**
     * Makes a folder for this user's copies (readable by this user alone where the system has
     * owners), or checks that an existing one belongs to this user: a library in a folder that
     * someone else owns could be swapped under this process.
     */
    private static void ownFolder(Path dir) throws IOException {
        boolean posix = dir.getFileSystem().supportedFileAttributeViews().contains("posix");
        if (!Files.isDirectory(dir)) {
            Files.createDirectories(dir.getParent());
            try {
                if (posix) {
                    Files.createDirectory(dir, PosixFilePermissions.asFileAttribute(
                        PosixFilePermissions.fromString("rwx------")));
                } else {
                    Files.createDirectory(dir);
                }
            } catch (FileAlreadyExistsException e) {
                // made by another process of this user's meanwhile: checked below
            }
        }
        UserPrincipal me = currentUser();
        if (posix && me != null) {
            UserPrincipal owner = Files.getOwner(dir, LinkOption.NOFOLLOW_LINKS);
            if (!owner.equals(me)) throw new IOException(dir + " belongs to " + owner.getName() + ", not to " + me.getName());
        }
    }

    /** The user this process runs as: the owner of a file it makes; null where that fails. */
    private static UserPrincipal currentUser() {
        if (user == null) {
            try {
                Path probe = Files.createTempFile(LIBRARY_NAME + "-", ".owner");
                try {
                    user = Files.getOwner(probe);
                } finally {
                    deleteQuietly(probe);
                }
            } catch (IOException | RuntimeException e) {
                return null;
            }
        }
        return user;
    }

    /** zelJava_sh-1.0.0-linux-x86_64, with -USER in a folder that several users may share. */
    private static String folderName(boolean shared) {
        String name = LIBRARY_NAME + "-" + version() + "-" + platform();
        if (!shared) return name;
        UserPrincipal me = currentUser();
        String who = me != null ? me.getName() : System.getProperty("user.name", "user");
        return name + "-" + who.replaceAll("[^A-Za-z0-9._-]", "_");
    }

    /** Whether a load failed because the folder may not map code (mounted noexec). */
    private static boolean cannotMap(String why) {
        return why.contains("failed to map segment") || why.contains("Operation not permitted")
               || why.contains("Permission denied");
    }

    /** The folder of {@value #EXTRACT_PROPERTY}, or null when it is not set. */
    private static Path extractFolder() {
        String folder = System.getProperty(EXTRACT_PROPERTY, "");
        return folder.isEmpty() ? null : Paths.get(folder);
    }

    /** The user's cache folder for zelJava_sh ($XDG_CACHE_HOME/zel, or ~/.cache/zel), or null. */
    private static Path userCache() {
        String xdg = System.getenv("XDG_CACHE_HOME");
        if (xdg != null && Paths.get(xdg).isAbsolute()) return Paths.get(xdg, "zel");
        String home = System.getProperty("user.home", "");
        return home.isEmpty() || home.equals("?") ? null : Paths.get(home, ".cache", "zel");
    }

    /** Loads a file; gives null when it loaded, otherwise why not (without the file's name). */
    private static String tryLoad(Path path) {
        if (!Files.isRegularFile(path)) return "no such file";
        String name = path.toAbsolutePath().toString();
        try {
            System.load(name);
            return null;
        } catch (UnsatisfiedLinkError e) {
            // The JVM names the file, and the system's dlerror names it again.
            String why = String.valueOf(e.getMessage());
            while (why.startsWith(name + ": ")) why = why.substring(name.length() + 2);
            return why;
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

    /** The whole of a stream (InputStream.readAllBytes is Java 9). */
    private static byte[] readAll(InputStream in) throws IOException {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        byte[] buffer = new byte[65536];
        for (int n; (n = in.read(buffer)) > 0;) out.write(buffer, 0, n);
        return out.toByteArray();
    }

    /** The platforms whose libraries the jar carries, from the list written when it was built. */
    private static String carried() {
        try (InputStream in = ZelLibrary.class.getResourceAsStream(NATIVE_FOLDER + "platforms.txt")) {
            if (in == null) return "none";
            String list = new String(readAll(in), java.nio.charset.StandardCharsets.UTF_8).trim();
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
