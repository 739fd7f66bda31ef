package COM.morvent.zel.walk;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayDeque;
import java.util.ArrayList;
import java.util.Deque;
import java.util.HashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;

/**
 * The library directories of a library-definitions file, read the way the library-access layer
 * reads them (DEFINE, INCLUDE, # comments, quotes, a later definition winning), so that the walk
 * finds the design files of the very libraries the configuration library uses. Problems in the
 * file are not reported here: the configuration library reports them at the first open.
 */
public final class LibraryDefinitions {
    /** The file that {@code ZelConfig.init(null)} searches for. */
    public static final String SETUP_FILE = "kwo.lib";

    private static final int MAX_NESTING = 32;

    private final Map<String, Path> directories = new HashMap<>();
    private final Deque<Path> reading = new ArrayDeque<>();

    private LibraryDefinitions() {
    }

    /** Reads a definitions file and what it includes. */
    public static LibraryDefinitions read(Path file) {
        LibraryDefinitions defs = new LibraryDefinitions();
        defs.readFile(file.toAbsolutePath());
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

    private void readFile(Path file) {
        if (reading.size() >= MAX_NESTING) return;
        Path key;
        try {
            key = file.toRealPath();
        } catch (IOException e) {
            return;  // missing or unreadable: the library says so at the first open
        }
        if (reading.contains(key) || !Files.isRegularFile(key)) return;
        List<String> lines;
        try {
            lines = Files.readAllLines(file, StandardCharsets.UTF_8);
        } catch (IOException | java.io.UncheckedIOException e) {
            return;
        }
        reading.push(key);
        Path base = file.getParent();
        for (String line : lines) {
            List<String> words = splitWords(line);
            if (words == null || words.isEmpty()) continue;
            String keyword = words.get(0).toUpperCase(Locale.ROOT);
            if (keyword.equals("DEFINE") && words.size() == 3) {
                if (isPathComponent(words.get(1))) directories.put(words.get(1), base.resolve(words.get(2)));
            } else if (keyword.equals("INCLUDE") && words.size() == 2) {
                readFile(base.resolve(words.get(1)));
            }
        }
        reading.pop();
    }

    /** A name the library accepts as a directory name. */
    static boolean isPathComponent(String name) {
        return !name.isEmpty() && !name.equals(".") && !name.equals("..") && name.indexOf('/') < 0
                && name.indexOf('\\') < 0 && name.indexOf('\0') < 0;
    }

    /**
     * The words of a definitions line: blanks separate, "..." quotes (a backslash takes the next
     * character as it is), '#' between words starts a comment.
     *
     * @return the words, or null for an unterminated quote (the library skips such a line)
     */
    static List<String> splitWords(String line) {
        List<String> words = new ArrayList<>();
        int i = 0;
        int n = line.length();
        while (i < n) {
            char c = line.charAt(i);
            if (c == ' ' || c == '\t' || c == '\r') {
                ++i;
                continue;
            }
            if (c == '#') break;
            StringBuilder word = new StringBuilder();
            if (c == '"') {
                ++i;
                boolean closed = false;
                while (i < n) {
                    char d = line.charAt(i++);
                    if (d == '"') {
                        closed = true;
                        break;
                    }
                    if (d == '\\' && i < n) d = line.charAt(i++);
                    word.append(d);
                }
                if (!closed) return null;
            } else {
                while (i < n && " \t\r".indexOf(line.charAt(i)) < 0) word.append(line.charAt(i++));
            }
            words.add(word.toString());
        }
        return words;
    }
}
