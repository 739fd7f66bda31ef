package COM.morvent.zel.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import COM.morvent.zel.ZelConfig;
import COM.morvent.zel.ZelException;
import COM.morvent.zel.ZelPathVector;
import COM.morvent.zel.ZelWarnings;
import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/** The Java forms around the natives: typed listeners, try-with-resources, the collector. */
class ConveniencesTest {
    @BeforeAll
    static void setUp() {
        Fixture.init();
    }

    @Test
    void lambdasHearTheWarningsOfEveryCallThatReports() {
        List<String> heard = new ArrayList<>();
        ZelConfig config = new ZelConfig();
        assertFalse(config.open("design", "chip", "nothing", "r", w -> heard.add("open: " + w)));
        assertFalse(config.openWithType("design", "chip", "config", "schematic", "r", w -> heard.add("typed: " + w)));
        assertFalse(config.openPartial(Fixture.root().resolve("none.zel").toString(), "r", w -> heard.add("partial: " + w)));
        assertTrue(config.open("design", "chip", "config", "r", w -> heard.add("unexpected: " + w)));
        assertFalse(config.save(w -> heard.add("save: " + w)));
        assertFalse(config.saveAs("nolib", "chip", "config", w -> heard.add("saveAs: " + w)));
        try (ZelPathVector path = ZelPathVector.create(config)) {
            assertTrue(path.pushCell("design", "chip", "schematic", null));
            path.bind("X", "design", null, "symbol", true, true, false, w -> heard.add("bind: " + w));
        }
        assertTrue(config.close());
        for (String call : List.of("open", "typed", "partial", "save", "saveAs", "bind")) {
            assertEquals(1, heard.stream().filter(w -> w.startsWith(call + ": ")).count(), call + " in " + heard);
        }
        assertEquals(6, heard.size(), heard.toString());
    }

    @Test
    void resourcesAreClosedWhenTheBlockEnds() {
        ZelConfig config = Fixture.fresh("closing");
        ZelPathVector kept;
        ZelPathVector copied;
        try (ZelConfig.Closing closing = config.closing(); ZelPathVector path = ZelPathVector.create(config)) {
            assertTrue(closing.config() == config);
            assertTrue(path.pushCell(Fixture.SCRATCH, "top", "schematic", null));
            kept = path;
            copied = path.copy();
            assertNotEquals(0, copied.pathvector);
        }
        assertEquals(0, kept.pathvector, "the path vector was destroyed");
        assertFalse(config.close(), "the configuration was closed already");
        assertEquals(Fixture.SCRATCH, copied.getContextLibName(), "a copy outlives its original");
        copied.close();
        copied.close();  // nothing left to destroy: harmless
        assertNull(copied.getContextLibName());

        // Leaving the block of a configuration that never opened does nothing.
        try (ZelConfig.Closing never = new ZelConfig().closing()) {
            assertEquals(0, never.config().id);
        }
    }

    @Test
    void collectorThrowsTheWarningsOfAFailedCallOnly() {
        ZelWarnings warnings = new ZelWarnings();
        ZelConfig config = new ZelConfig();
        ZelException failed = assertThrows(ZelException.class,
            () -> warnings.check(config.open("nolib", "chip", "config", "r", warnings), "open nolib/chip/config"));
        assertEquals(1, failed.getWarnings().size());
        assertTrue(failed.getWarnings().get(0).contains("nolib"), failed.getWarnings().toString());
        assertTrue(failed.getMessage().startsWith("open nolib/chip/config failed: "), failed.getMessage());
        assertTrue(warnings.warnings().isEmpty(), "check takes the warnings");

        warnings.check(config.open("design", "chip", "config", "a", warnings), "open design/chip/config");
        assertEquals(List.of(), warnings.check(true, "nothing"));
        ZelException silent = assertThrows(ZelException.class, () -> warnings.check(false, "edit"));
        assertEquals("edit failed (the library gave no warning)", silent.getMessage());
        assertTrue(config.close());
    }
}
