package COM.morvent.zel.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import COM.morvent.zel.ZelConfig;
import COM.morvent.zel.ZelPathVector;
import COM.morvent.zel.ZelWarningListener;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.Test;

/**
 * Runs alone in its own JVM (a test of its own in java/test/CMakeLists.txt): the first open of a
 * process gets handle 1, the first path vector too, and the problems of the definitions file
 * reach the listener of that first open, in the order of the file, while the open runs.
 */
class FreshProcessNumberingTest {
    @Test
    void firstHandlesAndTheDefinitionWarningsOfTheFirstOpen() throws Exception {
        Path dir = Files.createTempDirectory("zel-fresh");
        Path defs = dir.resolve("kwo.lib");
        Path examples = Fixture.examples().toAbsolutePath();
        Fixture.write(defs, "INCLUDE \"" + examples.resolve("kwo.lib") + "\"\n"
                            + "FROB x\n"
                            + "DEFINE ghost \"" + dir.resolve("ghost") + "\"\n"
                            + "DEFINE design \"" + examples.resolve("libs/design") + "\"\n");
        ZelConfig.init(defs.toString());

        ZelConfig first = new ZelConfig();
        List<String> heard = new ArrayList<>();
        List<Integer> idWhileHeard = new ArrayList<>();
        boolean[] inCall = {false};
        List<Boolean> heardInCall = new ArrayList<>();
        assertTrue(runOpen(first, inCall, text -> {
            heard.add(text);
            idWhileHeard.add(first.id);
            heardInCall.add(inCall[0]);
        }));
        assertEquals(1, first.id, "the first open of a process");
        assertEquals(3, heard.size(), heard.toString());
        assertTrue(heard.get(0).contains("unknown keyword") && heard.get(0).contains("FROB"), heard.get(0));
        assertTrue(heard.get(1).contains("ghost") && heard.get(1).contains("does not exist"), heard.get(1));
        assertTrue(heard.get(2).contains("design") && heard.get(2).contains("defined again"), heard.get(2));
        assertEquals(List.of(true, true, true), heardInCall, "warnings arrive while open runs");
        assertEquals(List.of(0, 0, 0), idWhileHeard, "id is written after the library call");

        // Reported once: the second open hears nothing.
        ZelConfig second = new ZelConfig();
        List<String> later = new ArrayList<>();
        assertTrue(second.open("design", "chip", "sim_config", "r", (ZelWarningListener) later::add));
        assertEquals(List.of(), later);
        assertEquals(2, second.id);

        // Path vectors count on their own, from 1.
        assertEquals(1, first.createNPathVector());
        ZelPathVector pv = ZelPathVector.create(second);
        assertEquals(2, pv.pathvector);
        assertEquals(3, pv.copy_n());

        // A failed open takes no handle; a closed one is not given out again.
        ZelConfig failed = new ZelConfig();
        assertFalse(failed.open("design", "chip", "missing", "r", null));
        assertEquals(0, failed.id);
        assertTrue(first.close());
        ZelConfig third = new ZelConfig();
        assertTrue(third.open("design", "chip", "config", "r", null));
        assertEquals(3, third.id);
        pv.destroy();
        assertEquals(4, second.createNPathVector());
    }

    private static boolean runOpen(ZelConfig config, boolean[] inCall, ZelWarningListener listener) {
        inCall[0] = true;
        try {
            return config.open("design", "chip", "config", "r", listener);
        } finally {
            inCall[0] = false;
        }
    }
}
