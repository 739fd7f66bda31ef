package COM.morvent.zel.tests;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import COM.morvent.zel.ZelConfig;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/** Opening in each mode, saving, saving elsewhere, closing, and the failures of each. */
class ConfigLifecycleTest {
    @BeforeAll
    static void setUp() {
        Fixture.init();
    }

    private static Path exampleFile(String view) {
        return Fixture.examples().resolve("libs/design/chip").resolve(view).resolve("config.zel");
    }

    @Test
    void modesDecideWhatMayBeSaved() {
        ZelConfig read = Fixture.open("design", "chip", "config", "r");
        assertFalse(read.isEditable());
        assertFalse(read.isModified());
        assertEquals(List.of("design", "chip", "config"), List.of(read.getLibName(), read.getCellName(), read.getViewName()));
        assertEquals(1, read.getRevision());
        // Edits are allowed in memory; saving is not.
        assertTrue(read.setDefaultStopListString("symbol"));
        assertTrue(read.isModified());
        Fixture.Recorder warnings = new Fixture.Recorder();
        assertFalse(read.save(warnings));
        assertEquals(1, warnings.warnings.size());
        assertTrue(warnings.warnings.get(0).contains("read-only"), warnings.warnings.get(0));
        assertTrue(read.isModified(), "still modified after a refused save");
        assertTrue(read.close());

        String cell = Fixture.uniqueCell("modes");
        ZelConfig made = Fixture.open(Fixture.SCRATCH, cell, "config", "w");
        assertTrue(made.isEditable());
        assertEquals(0, made.getRevision());
        assertNull(made.getTopCellName(), "a new configuration is empty");
        assertTrue(made.setTopCellViewName("design", "chip", "schematic"));
        assertTrue(made.save(null));
        assertFalse(made.isModified());
        assertEquals(1, made.getRevision());
        assertTrue(made.close());

        ZelConfig append = Fixture.open(Fixture.SCRATCH, cell, "config", "a");
        assertTrue(append.isEditable());
        assertEquals("chip", append.getTopCellName());
        assertTrue(append.setDefaultViewListString("schematic"));
        assertTrue(append.save(null));
        assertEquals(2, append.getRevision());
        assertTrue(append.close());

        // "w" over an existing one starts empty; it replaces the stored one only when saved.
        ZelConfig over = Fixture.open(Fixture.SCRATCH, cell, "config", "w");
        assertNull(over.getTopCellName());
        assertTrue(over.close());
        ZelConfig again = Fixture.open(Fixture.SCRATCH, cell, "config", "r");
        assertEquals("schematic", again.getDefaultViewListString());
        assertTrue(again.close());
    }

    @Test
    void failedOpensSayWhy() {
        String[][] cases = {
            // lib, cell, view, mode, a word the warning holds
            {"nolib", "chip", "config", "r", "not defined"},
            {"design", "chip", "nothing", "r", "no configuration"},
            {"design", "chip", "config", "x", "unknown open mode"},
            {"design", "..", "config", "r", "refused"},
            {"design", "a/b", "config", "r", "refused"},
            {"design", "", "config", "r", "refused"},
        };
        for (String[] c : cases) {
            ZelConfig config = new ZelConfig();
            Fixture.Recorder warnings = new Fixture.Recorder();
            assertFalse(config.open(c[0], c[1], c[2], c[3], warnings), String.join("/", c));
            assertEquals(0, config.id);
            assertEquals(1, warnings.warnings.size(), warnings.warnings.toString());
            assertTrue(warnings.warnings.get(0).contains(c[4]), warnings.warnings.get(0));
        }
    }

    @Test
    void syntaxErrorNamesFileLineAndColumn() throws Exception {
        String cell = Fixture.uniqueCell("broken");
        Path file = Fixture.root().resolve(Fixture.SCRATCH).resolve(cell).resolve("config").resolve("config.zel");
        String text = "zelvek-config 1\ntop design chip schematic\ndefault-views \"schematic\n";
        Fixture.write(file, text);
        Fixture.Recorder warnings = new Fixture.Recorder();
        ZelConfig config = new ZelConfig();
        assertFalse(config.open(Fixture.SCRATCH, cell, "config", "a", warnings));
        assertEquals(1, warnings.warnings.size());
        assertTrue(warnings.warnings.get(0).contains(file.toString() + ":3:"), warnings.warnings.get(0));
        assertEquals(text, Files.readString(file), "a failed open changes nothing on disk");
    }

    @Test
    void openWithTypeAndOpenPartial() throws Exception {
        ZelConfig typed = new ZelConfig();
        assertTrue(typed.openWithType("design", "chip", "sim_config", "config", "r", null));
        assertEquals("sim_config", typed.getViewName());
        assertTrue(typed.close());
        Fixture.Recorder warnings = new Fixture.Recorder();
        assertFalse(typed.openWithType("design", "chip", "sim_config", "schematic", "r", warnings));
        assertEquals(1, warnings.warnings.size());

        ZelConfig partial = new ZelConfig();
        assertTrue(partial.openPartial(exampleFile("alt_config").toString(), "r", null));
        // Its location is what the file records.
        assertEquals(List.of("design", "chip", "alt_config"),
                     List.of(partial.getLibName(), partial.getCellName(), partial.getViewName()));
        assertEquals("schematic", partial.getTopViewName());
        assertTrue(partial.close());

        Path copy = Fixture.root().resolve(Fixture.uniqueCell("partial") + ".zel");
        Files.copy(exampleFile("sim_config"), copy);
        ZelConfig edited = new ZelConfig();
        assertTrue(edited.openPartial(copy.toString(), "a", null));
        assertTrue(edited.addNoteLine("edited by path"));
        assertTrue(edited.save(null));
        assertTrue(edited.close());
        assertTrue(Files.readString(copy).contains("edited by path"));

        warnings.warnings.clear();
        assertFalse(partial.openPartial(Fixture.root().resolve("none.zel").toString(), "r", warnings));
        assertEquals(1, warnings.warnings.size());
    }

    @Test
    void saveAsIntoAnotherLibraryLeavesTheOriginal() throws Exception {
        byte[] original = Files.readAllBytes(exampleFile("config"));
        ZelConfig config = Fixture.open("design", "chip", "config", "r");
        String cell = Fixture.uniqueCell("copy");
        assertTrue(config.saveAs(Fixture.OTHER, cell, "config", null));
        assertEquals(List.of(Fixture.OTHER, cell, "config"),
                     List.of(config.getLibName(), config.getCellName(), config.getViewName()));
        assertTrue(config.isEditable(), "editable where it now lives");
        assertFalse(config.isModified());
        assertTrue(config.addNoteLine("a copy"));
        assertTrue(config.save(null));
        assertTrue(config.close());
        assertArrayEquals(original, Files.readAllBytes(exampleFile("config")), "the example is untouched");

        ZelConfig copy = Fixture.open(Fixture.OTHER, cell, "config", "r");
        assertEquals("design", copy.getTopLibName());
        assertEquals("schematic symbol", copy.getDefaultViewListString());
        assertTrue(copy.isContainingOccur());
        assertTrue(copy.getNoteString().endsWith("\na copy"), copy.getNoteString());
        assertTrue(copy.close());

        Fixture.Recorder warnings = new Fixture.Recorder();
        ZelConfig again = Fixture.open("design", "chip", "config", "r");
        assertFalse(again.saveAs("nolib", cell, "config", warnings));
        assertFalse(again.saveAs(Fixture.OTHER, "..", "config", warnings));
        assertEquals(2, warnings.warnings.size(), warnings.warnings.toString());
        assertEquals("design", again.getLibName(), "a failed save-as leaves it where it was");
        assertTrue(again.close());
    }

    @Test
    void closeDropsUnsavedChanges() {
        String cell = Fixture.uniqueCell("drop");
        ZelConfig made = Fixture.open(Fixture.SCRATCH, cell, "config", "w");
        assertTrue(made.setDefaultLibListString("design"));
        assertTrue(made.save(null));
        assertTrue(made.setDefaultLibListString("stdcells"));
        assertTrue(made.close());
        ZelConfig back = Fixture.open(Fixture.SCRATCH, cell, "config", "r");
        assertEquals("design", back.getDefaultLibListString());
        assertTrue(back.close());
    }
}
