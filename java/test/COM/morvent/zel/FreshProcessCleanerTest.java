package COM.morvent.zel;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import COM.morvent.zel.tests.Fixture;
import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.Test;

/**
 * What a program drops without closing is released once unreachable; what it still holds, or
 * opened through the native Object form, is not. A JVM of its own: the count of releases must
 * be this test's alone.
 */
class FreshProcessCleanerTest {
    private static final int DROPPED = 50;

    /** In a frame of its own, so that nothing of it stays reachable from the test's frame. */
    private static void openAndDrop(List<Integer> configs, List<Integer> paths) {
        ZelConfig config = Fixture.open("design", "chip", "config", "r");
        ZelPathVector path = ZelPathVector.create(config);
        assertTrue(path.pushCell("design", "chip", "schematic", null));
        configs.add(config.id);
        paths.add(path.pathvector);
        ZelPathVector closed = ZelPathVector.create(config);
        closed.close();  // closed already: nothing left to release
    }

    @Test
    void droppedConfigurationsAndPathVectorsAreReleased() throws InterruptedException {
        Fixture.init();
        ZelConfig kept = Fixture.open("design", "chip", "config", "r");
        ZelConfig untracked = new ZelConfig();
        assertTrue(untracked.open("design", "chip", "config", "r", (Object) null));
        ZelPathVector keptPath = ZelPathVector.create(kept);
        assertTrue(keptPath.pushCell("design", "chip", "schematic", null));

        List<Integer> configs = new ArrayList<>();
        List<Integer> paths = new ArrayList<>();
        for (int i = 0; i < DROPPED; i++) openAndDrop(configs, paths);
        // No call into the bridge from this thread while the releases run.
        long deadline = System.nanoTime() + 60_000_000_000L;
        while (ZelCleanup.released.get() < 2 * DROPPED && System.nanoTime() < deadline) {
            System.gc();
            Thread.sleep(20);
        }
        assertEquals(2 * DROPPED, ZelCleanup.released.get(), "one release per dropped configuration and path vector");

        List<ZelPathVector> probes = new ArrayList<>();  // held, so that they release nothing meanwhile
        for (int i = 0; i < DROPPED; i++) {
            ZelConfig probe = new ZelConfig();
            probe.id = configs.get(i);
            assertNull(probe.getLibName(), "configuration " + configs.get(i) + " was closed");
            ZelPathVector path = new ZelPathVector(paths.get(i));
            probes.add(path);
            assertNull(path.getContextLibName(), "path vector " + paths.get(i) + " was destroyed");
        }
        assertNotNull(kept.getLibName());
        assertNotNull(untracked.getLibName(), "opened through the Object form: not tracked, not closed");
        assertEquals("design", keptPath.getContextLibName());
        assertEquals(2 * DROPPED, ZelCleanup.released.get());
    }
}
