package COM.morvent.zel.walk;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

class DesignFileTest {
    private static List<DesignFile.Instance> parse(String text) throws DesignFile.DesignFileException {
        return DesignFile.parse("f", text);
    }

    @Test
    void readsInstancesInOrder() throws Exception {
        List<DesignFile.Instance> list = parse("\uFEFF# header comment\r\nzel-instances 1\r\n\r\n"
            + "inst B lib cell symbol   # trailing comment\n"
            + "  inst \"a b\" \"l\\\"q\" \"c\\\\d\" -\n"
            + "inst \"I\\u{1F600}\\t\" x#y \"-\" \"#v\"\n");
        assertEquals(3, list.size());
        assertEquals("B", list.get(0).name);
        assertEquals(new CellView("lib", "cell", "symbol"), list.get(0).master);
        assertEquals("a b", list.get(1).name);
        assertEquals(new CellView("l\"q", "c\\d", null), list.get(1).master, "a bare - is no view");
        assertEquals("I\uD83D\uDE00\t", list.get(2).name);
        assertEquals(new CellView("x#y", "-", "#v"), list.get(2).master, "quoted - and # are names");
    }

    @Test
    void errorsNameLineAndColumnAndSayWhatToDo() {
        String[][] cases = {
            // text, expected start of the message, a word of the advice
            {"inst A l c v\n", "f:1:1: expected 'zel-instances 1'", "add it"},
            {"zel-instances 2\n", "f:1:1: expected 'zel-instances 1'", "add it"},
            {"", "f: empty", "zel-instances 1"},
            {"zel-instances 1\nnet A l c v\n", "f:2:1: unknown statement 'net'", "inst NAME LIB CELL VIEW"},
            {"zel-instances 1\ninst A l c  \n", "f:2:11: inst takes four words, not 3", "inst NAME LIB CELL VIEW"},
            {"zel-instances 1\ninst A l c v w\n", "f:2:14: inst takes four words, not 5", "inst NAME LIB CELL VIEW"},
            {"zel-instances 1\ninst A l c v\ninst A l c v\n", "f:3:6: instance 'A' is listed twice", "own name"},
            {"zel-instances 1\ninst \"A l c v\n", "f:2:6: unterminated quote", "close it"},
            {"zel-instances 1\ninst \"A\\q\" l c v\n", "f:2:", "unknown escape"},
            {"zel-instances 1\ninst \"A\\u{110000}\" l c v\n", "f:2:", "\\u{HEX}"},
            {"zel-instances 1\ninst \"A\\u{}\" l c v\n", "f:2:", "\\u{HEX}"},
        };
        for (String[] c : cases) {
            DesignFile.DesignFileException e = assertThrows(DesignFile.DesignFileException.class, () -> parse(c[0]), c[0]);
            assertTrue(e.getMessage().startsWith(c[1]), e.getMessage());
            assertTrue(e.getMessage().contains(c[2]), e.getMessage());
            assertEquals(1, e.getMessage().lines().count(), "one line");
        }
    }

    @Test
    void aViewWithoutTheFileHasNoInstances(@TempDir Path dir) throws Exception {
        assertEquals(List.of(), DesignFile.read(dir));
        Files.write(dir.resolve(DesignFile.FILE_NAME), "zel-instances 1\ninst X a b c\n".getBytes(StandardCharsets.UTF_8));
        assertEquals("X", DesignFile.read(dir).get(0).name);
        Files.write(dir.resolve(DesignFile.FILE_NAME), new byte[] {'z', (byte) 0xFF, '\n'});
        DesignFile.DesignFileException e = assertThrows(DesignFile.DesignFileException.class, () -> DesignFile.read(dir));
        assertTrue(e.getMessage().contains("not UTF-8"), e.getMessage());
    }

    @Test
    void everyExampleDesignFileReads() throws Exception {
        Path libs = Path.of(System.getenv("ZEL_EXAMPLES"), "libs");
        List<Path> files;
        try (var walk = Files.walk(libs)) {
            files = walk.filter(p -> p.getFileName().toString().equals(DesignFile.FILE_NAME)).toList();
        }
        assertTrue(files.size() > 20, "found " + files.size());
        for (Path file : files) {
            for (DesignFile.Instance inst : DesignFile.read(file.getParent())) {
                // Every master is a cell view of the example.
                Path master = libs.resolve(inst.master.lib).resolve(inst.master.cell).resolve(inst.master.view);
                assertTrue(Files.isDirectory(master), file + ": " + inst.name + " -> " + inst.master);
            }
        }
        assertEquals(List.of(), DesignFile.read(libs.resolve("devices/nmos/spice")), "a leaf lists none");
    }
}
