package COM.morvent.zel.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import COM.morvent.zel.ZelConfig;
import COM.morvent.zel.ZelPathVector;
import COM.morvent.zel.ZelWarningListener;
import java.nio.file.Files;
import java.nio.file.Path;
import org.junit.jupiter.api.Test;

/**
 * Runs alone in its own JVM: only the first open of a process succeeds with warnings (those of
 * the definitions file). A listener that throws on them: Java gets its exception once the open
 * has returned, and the open's work is done.
 */
class FreshProcessThrowingListenerTest {
    /** The open whose listener throws, in a frame of its own; its object is dropped open. */
    private static int openWithAThrowingListener() {
        ZelConfig config = new ZelConfig();
        int[] calls = {0};
        IllegalStateException boom = new IllegalStateException("boom");
        IllegalStateException thrown = assertThrows(IllegalStateException.class,
            () -> config.open("design", "chip", "config", "r", (ZelWarningListener) text -> {
                ++calls[0];
                throw boom;
            }));
        assertSame(boom, thrown, "the listener's own exception");
        assertEquals(1, calls[0], "no warning is relayed after the listener threw");
        assertEquals(1, config.id, "id written");
        assertEquals("chip", config.getTopCellName(), "registered and answering");
        ZelPathVector pv = ZelPathVector.create(config);
        assertNotEquals(0, pv.pathvector);
        assertTrue(pv.pushCell("design", "chip", "schematic", null));
        assertEquals("schematic", pv.getContextViewName());
        pv.destroy();
        return config.id;
    }

    @Test
    void exceptionOfTheListenerComesAfterTheOpenIsDone() throws Exception {
        Path dir = Files.createTempDirectory("zel-fresh");
        Path defs = dir.resolve("kwo.lib");
        Fixture.write(defs, "INCLUDE \"" + Fixture.examples().toAbsolutePath().resolve("kwo.lib") + "\"\n"
                            + "FROB one\nFROB two\n");
        ZelConfig.init(defs.toString());

        int handle = openWithAThrowingListener();
        // Open all the same: the Cleaner knows of it and closes it once its object is dropped.
        ZelConfig probe = new ZelConfig();
        probe.id = handle;
        long deadline = System.nanoTime() + 60_000_000_000L;
        while (probe.getTopCellName() != null && System.nanoTime() < deadline) {
            System.gc();
            Thread.sleep(20);
        }
        assertNull(probe.getTopCellName(), "closed by the Cleaner");
    }
}
