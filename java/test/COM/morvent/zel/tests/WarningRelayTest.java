package COM.morvent.zel.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import COM.morvent.zel.ZelConfig;
import COM.morvent.zel.ZelPathVector;
import COM.morvent.zel.ZelWarningListener;
import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * The listener of a call hears that call's warnings, while it runs. A listener that cannot be
 * called, or throws, gives Java its error when the native returns, the native's work done.
 * (The first open of a process, and a listener throwing during a successful open, are tested in
 * FreshProcess* tests, each in a JVM of its own.)
 */
class WarningRelayTest {
    @BeforeAll
    static void setUp() {
        Fixture.init();
    }

    /** A listener-shaped object without processWarning. */
    static final class Deaf {
        @SuppressWarnings("unused")
        public void processWarning(Object notAString) {
        }
    }

    @Test
    void listenerWithoutProcessWarningFailsAfterTheOpenIsDone() {
        ZelConfig config = new ZelConfig();
        assertThrows(NoSuchMethodError.class, () -> config.open("design", "chip", "config", "r", new Deaf()));
        assertNotEquals(0, config.id, "id written");
        assertEquals("chip", config.getTopCellName(), "registered and answering");
        int pv = config.createNPathVector();
        assertNotEquals(0, pv);
        new ZelPathVector(pv).destroy();
        assertTrue(config.close());

        // Without a single warning to relay, save-as too.
        ZelConfig other = Fixture.open("design", "chip", "sim_config", "r");
        String cell = Fixture.uniqueCell("deaf");
        assertThrows(NoSuchMethodError.class, () -> other.saveAs(Fixture.SCRATCH, cell, "config", new Object()));
        assertEquals(cell, other.getCellName(), "saved where asked");
        assertFalse(other.isModified());
        assertTrue(other.close());
        ZelConfig saved = Fixture.open(Fixture.SCRATCH, cell, "config", "r");
        assertEquals("$(SIM_VIEWS)", saved.getDefaultViewListString());
        assertTrue(saved.close());
    }

    @Test
    void listenerThatThrowsOnAFailedSave() {
        ZelConfig config = Fixture.open("design", "chip", "config", "r");
        assertTrue(config.addNoteLine("kept"));
        int[] calls = {0};
        RuntimeException boom = new RuntimeException("boom");
        RuntimeException thrown = assertThrows(RuntimeException.class, () -> config.save((ZelWarningListener) text -> {
            ++calls[0];
            throw boom;
        }));
        assertEquals(boom, thrown);
        assertEquals(1, calls[0]);
        assertTrue(config.isModified(), "the refused save changed nothing");
        assertTrue(config.getNoteString().endsWith("kept"));
        assertTrue(config.close());
    }

    @Test
    void warningsOfAFailedOpenArriveDuringTheCall() {
        ZelConfig config = new ZelConfig();
        boolean[] inCall = {false};
        List<Boolean> during = new ArrayList<>();
        List<String> heard = new ArrayList<>();
        inCall[0] = true;
        boolean opened = config.open("design", "chip", "config", "bogus", (ZelWarningListener) text -> {
            heard.add(text);
            during.add(inCall[0]);
        });
        inCall[0] = false;
        assertFalse(opened);
        assertEquals(1, heard.size());
        assertTrue(heard.get(0).contains("bogus"), heard.get(0));
        assertEquals(List.of(true), during);
    }

    @Test
    void nullListenerDiscardsWarnings() {
        ZelConfig config = new ZelConfig();
        assertFalse(config.open("nolib", "chip", "config", "r", null));
        assertEquals(0, config.id);
        // The next call with a listener hears only its own warnings.
        Fixture.Recorder warnings = new Fixture.Recorder();
        assertFalse(config.open("design", "chip", "nothing", "r", warnings));
        assertEquals(1, warnings.warnings.size());
        assertFalse(warnings.warnings.get(0).contains("nolib"), warnings.warnings.get(0));
    }

    @Test
    void listenerOfOneCallIsNotCalledByTheNext() {
        Fixture.Recorder first = new Fixture.Recorder();
        ZelConfig config = new ZelConfig();
        assertFalse(config.open("design", "chip", "nothing", "r", first));
        assertEquals(1, first.warnings.size());
        ZelConfig read = Fixture.open("design", "chip", "config", "r");
        assertFalse(read.save(null));
        ZelPathVector pv = ZelPathVector.create(read);
        assertTrue(pv.pushCell("design", "chip", "schematic", null));
        pv.bind("CORE", "design", "core", "symbol", true, true, false, null);
        assertEquals(1, first.warnings.size(), "the earlier listener stays silent");
        pv.destroy();
        assertTrue(read.close());
    }
}
