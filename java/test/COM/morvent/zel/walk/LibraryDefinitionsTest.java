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
    void theLibrariesAreTheLibrarysOwn() {
        COM.morvent.zel.tests.Fixture.init();
        LibraryDefinitions defs = LibraryDefinitions.loaded();
        // The example's libraries, through the INCLUDE of the tests' definitions file.
        assertEquals(COM.morvent.zel.tests.Fixture.examples().resolve("libs/design").toAbsolutePath().normalize(),
                     defs.directory("design").normalize());
        assertNull(defs.directory("no such library"));
        assertNull(defs.directory(null));
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
