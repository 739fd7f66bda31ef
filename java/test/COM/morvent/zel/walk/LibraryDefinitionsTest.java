package COM.morvent.zel.walk;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;

import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

class LibraryDefinitionsTest {
    private static void write(Path file, String text) throws Exception {
        Files.createDirectories(file.getParent());
        Files.write(file, text.getBytes(StandardCharsets.UTF_8));
    }

    @Test
    void definitionsIncludesQuotesAndTheLaterDefinition(@TempDir Path dir) throws Exception {
        write(dir.resolve("site/kwo.lib"), "DEFINE shared ../libs/shared\nINCLUDE ../kwo.lib  # a loop, skipped\n");
        write(dir.resolve("kwo.lib"), String.join("\n",
            "# comment",
            "define a libs/a",
            "DEFINE \"b lib\" \"/abs/with blank\"",
            "INCLUDE site/kwo.lib",
            "DEFINE a libs/a2   # the later one wins",
            "FROB x",
            "DEFINE .. nowhere",
            "DEFINE c/d nowhere",
            "DEFINE \"open quote",
            "DEFINE e"));
        LibraryDefinitions defs = LibraryDefinitions.read(dir.resolve("kwo.lib"));
        assertEquals(dir.resolve("libs/a2"), defs.directory("a"));
        assertEquals(Path.of("/abs/with blank"), defs.directory("b lib"));
        assertEquals(dir.resolve("site/../libs/shared"), defs.directory("shared"), "relative to the file naming it");
        for (String refused : new String[] {"..", "c/d", "e", "open quote", null}) assertNull(defs.directory(refused));
    }

    @Test
    void missingFileDefinesNothing(@TempDir Path dir) {
        assertNull(LibraryDefinitions.read(dir.resolve("none.lib")).directory("a"));
    }

    @Test
    void splitWords() {
        assertEquals(List.of("DEFINE", "a", "b c", "d\"e"), LibraryDefinitions.splitWords(" DEFINE\ta \"b c\" \"d\\\"e\" # x"));
        assertEquals(List.of("a#b"), LibraryDefinitions.splitWords("a#b"));
        assertNull(LibraryDefinitions.splitWords("DEFINE \"a"));
    }

    @Test
    void setupSearchOrder(@TempDir Path dir) throws Exception {
        Path first = dir.resolve("one");
        Path second = dir.resolve("two");
        Path home = dir.resolve("home");
        write(second.resolve("kwo.lib"), "");
        write(home.resolve("kwo.lib"), "");
        Files.createDirectories(first);
        assertEquals(second.resolve("kwo.lib"),
                     LibraryDefinitions.searchSetupFile(first + "::" + second, home.toString()));
        Path cwd = Path.of("").toAbsolutePath().resolve("kwo.lib");
        Path expected = Files.isRegularFile(cwd) ? cwd : home.resolve("kwo.lib");
        assertEquals(expected, LibraryDefinitions.searchSetupFile(first.toString(), home.toString()));
        if (!Files.isRegularFile(cwd)) assertNull(LibraryDefinitions.searchSetupFile(null, null));
    }
}
