package COM.morvent.zel.walk;

import COM.morvent.zel.ZelRules;
import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;

/**
 * The library directories of the library definitions, as the configuration library read them
 * ({@link ZelRules#libraries()}), so that the walk finds the design files of the very libraries
 * the configuration library uses. {@code ZelConfig.init} must have been called.
 */
public final class LibraryDefinitions {
    /** The file that {@code ZelConfig.init(null)} searches for. */
    public static final String SETUP_FILE = "kwo.lib";

    private final Map<String, Path> directories = new HashMap<>();

    private LibraryDefinitions() {
    }

    /** The libraries of the definitions that {@code ZelConfig.init} read. */
    public static LibraryDefinitions loaded() {
        LibraryDefinitions defs = new LibraryDefinitions();
        for (ZelRules.Library lib : ZelRules.libraries()) {
            try {
                defs.directories.put(lib.name(), Path.of(lib.folder()));
            } catch (InvalidPathException e) {
                // a folder this system cannot name: the library has no design files here
            }
        }
        return defs;
    }

    /** The directory of a library, or null when it is not defined. */
    public Path directory(String lib) {
        return lib == null ? null : directories.get(lib);
    }

    /** The names of the defined libraries, sorted. */
    public List<String> names() {
        List<String> names = new ArrayList<>(directories.keySet());
        java.util.Collections.sort(names);
        return names;
    }

    /**
     * Looks for {@value #SETUP_FILE} where {@code ZelConfig.init(null)} does: in the directories
     * of {@code ZEL_SETUP_PATH} (separated by ':'), then in the current directory, then in
     * {@code $HOME}.
     *
     * @return the first regular file found, or null
     */
    public static Path searchSetupFile(String setupPath, String home) {
        List<Path> places = new ArrayList<>();
        if (setupPath != null) {
            for (String dir : setupPath.split(":"))
                if (!dir.isEmpty()) places.add(Path.of(dir));
        }
        places.add(Path.of("").toAbsolutePath());
        if (home != null && !home.isEmpty()) places.add(Path.of(home));
        for (Path dir : places) {
            Path candidate = dir.resolve(SETUP_FILE);
            if (Files.isRegularFile(candidate)) return candidate;
        }
        return null;
    }

    /** A name the library accepts as a directory name. */
    static boolean isPathComponent(String name) {
        return !name.isEmpty() && !name.equals(".") && !name.equals("..") && name.indexOf('/') < 0
                && name.indexOf('\\') < 0 && name.indexOf('\0') < 0;
    }
}
