package COM.morvent.zel.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import COM.morvent.zel.ZelConfig;
import COM.morvent.zel.ZelPathVector;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/** Moving path vectors, the context queries, copies, and path vectors that outlive their configuration. */
class PathVectorTest {
    @BeforeAll
    static void setUp() {
        Fixture.init();
    }

    private static List<String> level(ZelPathVector pv, int i) {
        return Arrays.asList(pv.getIndexLibName(i), pv.getIndexCellName(i), pv.getIndexViewName(i));
    }

    private static List<String> current(ZelPathVector pv) {
        return Arrays.asList(pv.getContextLibName(), pv.getContextCellName(), pv.getContextViewName());
    }

    @Test
    void pushAndPopFollowTheLevels() {
        ZelConfig config = Fixture.open("design", "chip", "config", "r");
        ZelPathVector pv = ZelPathVector.create(config);
        assertEquals(-1, pv.getContextVectorIndex(), "empty");
        assertEquals(Arrays.asList(null, null, null), current(pv));
        assertFalse(pv.popCell());
        assertFalse(pv.pop());
        assertFalse(pv.popToTop());

        assertTrue(pv.pushCell("design", "chip", "schematic", null));
        assertTrue(pv.pushCell("design", "core", "schematic", "CORE"));
        assertTrue(pv.pushCell("design", "alu", "schematic", "ALU0"));
        assertEquals(2, pv.getContextVectorIndex());
        assertEquals(List.of("design", "alu", "schematic"), current(pv));
        assertEquals(List.of("design", "core", "schematic"), level(pv, 1));
        assertEquals(Arrays.asList(null, null, null), level(pv, 3), "out of range");
        assertEquals(Arrays.asList(null, null, null), level(pv, -1), "out of range");
        assertEquals("schematic symbol", pv.getIndexViewList(0), "the default view list at the top");
        assertNull(pv.getIndexViewList(7));
        assertFalse(pv.pushCell("design", null, "schematic", "X"), "a level needs a cell");
        assertEquals(2, pv.getContextVectorIndex(), "a refused push changes nothing");

        // A copy is independent.
        ZelPathVector copy = new ZelPathVector(pv.copy_n());
        assertNotEquals(0, copy.pathvector);
        assertEquals(2, copy.getContextVectorIndex());
        assertTrue(copy.popToTop());
        assertEquals(0, copy.getContextVectorIndex());
        assertEquals(List.of("design", "chip", "schematic"), current(copy));
        assertEquals(2, pv.getContextVectorIndex());

        assertTrue(pv.popCell());
        assertTrue(pv.pop());
        assertEquals(0, pv.getContextVectorIndex());
        assertTrue(pv.popCell());
        assertEquals(-1, pv.getContextVectorIndex());
        copy.destroy();
        pv.destroy();
        assertTrue(config.close());
    }

    @Test
    void pushRefusedBeyondTheMaximumDepth() {
        ZelConfig config = Fixture.open("design", "chip", "config", "r");
        ZelPathVector pv = ZelPathVector.create(config);
        int pushed = 0;
        while (pushed < 1000 && pv.pushCell("design", "chip", "schematic", "I" + pushed)) ++pushed;
        assertEquals(256, pushed);
        assertEquals(255, pv.getContextVectorIndex());
        assertEquals("chip", pv.getIndexCellName(255));
        pv.destroy();
        assertTrue(config.close());
    }

    @Test
    void instancesWithRulesOfTheCurrentLevel() {
        ZelConfig config = Fixture.open("design", "chip", "config", "r");
        ZelPathVector pv = ZelPathVector.create(config);
        assertTrue(pv.pushCell("design", "chip", "schematic", null));
        assertTrue(pv.isAnyInstRules());
        assertTrue(pv.enumerateContextInstances());
        assertEquals("PAD0", pv.getContextNextInstance());
        assertNull(pv.getContextNextInstance());
        assertTrue(pv.isPartOfOccurPath("CORE"), "CORE leads to the occurrence rules");
        assertFalse(pv.isPartOfOccurPath("PAD0"));

        assertTrue(pv.pushCell("design", "core", "schematic", "CORE"));
        assertTrue(pv.isAnyInstRules());
        assertTrue(pv.isPartOfOccurPath("ALU0"));
        assertFalse(pv.isPartOfOccurPath("ALU1"), "a sibling of an occurrence path");
        // ALU1 has a stop point and nothing else.
        assertTrue(pv.isSameInstRules("ALU1", false, null, false, null, false, null, false));
        assertFalse(pv.isSameInstRules("ALU1", false, null, false, null, false, null, true), "occurrence override");
        assertFalse(pv.isSameInstRules("ALU0", false, null, false, null, false, null, false),
                    "an instance on an occurrence path");

        // The any-view rule of NEG inside the ALU.
        assertTrue(pv.pushCell("design", "alu", "schematic", "ALU1"));
        assertTrue(pv.isAnyInstRules());
        assertTrue(pv.isSameInstRules("NEG", false, null, true, "schematic", false, null, false));
        assertFalse(pv.isSameInstRules("NEG", false, null, true, "symbol", false, null, false));
        assertFalse(pv.isSameInstRules("NEG", true, "design", true, "schematic", false, null, false));

        assertTrue(pv.pushCell("design", "adder", "schematic", "ADD"));
        assertFalse(pv.isAnyInstRules());
        assertFalse(pv.enumerateContextInstances());
        assertNull(pv.getContextNextInstance());
        pv.destroy();
        assertTrue(config.close());
    }

    @Test
    void rulesMadeAfterAPushAreSeen() {
        ZelConfig config = Fixture.fresh("later");
        ZelPathVector pv = ZelPathVector.create(config);
        assertTrue(pv.pushCell("design", "alu", "schematic", null));
        assertFalse(pv.isAnyInstRules());
        assertTrue(config.replaceInstViewBinding("design", "alu", "schematic", "NEG", "layout"));
        assertTrue(pv.isAnyInstRules());
        assertTrue(pv.isSameInstRules("NEG", false, null, true, "layout", false, null, false));
        assertTrue(config.deleteInstViewBinding("design", "alu", "schematic", "NEG"));
        assertFalse(pv.isAnyInstRules());
        assertFalse(pv.enumerateContextInstances());

        // An occurrence made through one path vector is seen through another.
        ZelPathVector other = ZelPathVector.create(config);
        assertTrue(other.pushCell("design", "alu", "schematic", null));
        assertFalse(other.isPartOfOccurPath("ADD"));
        assertTrue(config.setOccurBinding(pv.pathvector, "altcells", "adder", "schematic", "ADD"));
        assertTrue(other.isPartOfOccurPath("ADD"));
        assertTrue(config.isContainingOccur());
        assertTrue(config.deleteOccurBinding(other.pathvector, "ADD"));
        assertFalse(config.isContainingOccur(), "an empty occurrence is gone");
        assertFalse(pv.isPartOfOccurPath("ADD"));
        other.destroy();
        pv.destroy();
        assertTrue(config.close());
    }

    @Test
    void pathVectorsOutliveTheirConfiguration() {
        ZelConfig config = Fixture.open("design", "chip", "config", "r");
        ZelPathVector pv = ZelPathVector.create(config);
        assertTrue(pv.pushCell("design", "chip", "schematic", null));
        assertTrue(pv.pushCell("design", "core", "schematic", "CORE"));
        ZelPathVector copy = new ZelPathVector(pv.copy_n());
        assertTrue(config.close());
        assertEquals(0, config.createNPathVector(), "a closed configuration takes no new path vector");

        // Both keep answering from the configuration as it was.
        for (ZelPathVector p : List.of(pv, copy)) {
            assertEquals("core", p.getContextCellName());
            assertTrue(p.isAnyInstRules());
            assertTrue(p.isSameInstRules("ALU1", false, null, false, null, false, null, false));
            assertTrue(p.isPartOfOccurPath("ALU0"));
            assertEquals("schematic symbol", p.getIndexViewList(1));
        }
        int third = copy.copy_n();
        assertNotEquals(0, third, "a copy of a copy, after the close");
        pv.destroy();
        assertTrue(copy.pushCell("design", "alu", "schematic", "ALU0"));
        assertTrue(copy.isAnyInstRules());
        assertTrue(copy.isSameInstRules("NEG", false, null, true, "schematic", false, null, false));
        copy.bind("NEG", "stdcells", "inv", "symbol", true, true, false, null);
        assertEquals("schematic", copy.getCurrentViewBinding(), "binds from the closed configuration's rules");
        assertTrue(copy.isInstViewBindingUsed());
        assertTrue(copy.pushCell("stdcells", "inv", "schematic", "NEG"));
        assertFalse(copy.isAtStop());
        assertTrue(copy.popCell());
        copy.destroy();
        ZelPathVector last = new ZelPathVector(third);
        assertEquals(1, last.getContextVectorIndex());
        assertTrue(last.popToTop());
        last.destroy();
        assertEquals(0, last.pathvector);
        assertEquals(0, last.getContextVectorIndex(), "a destroyed path vector answers 0");
    }

    @Test
    void closingEndsTheEnumerationsOverIt() {
        ZelConfig config = Fixture.open("design", "chip", "config", "r");
        config.enumerateConstants();
        assertTrue(config.hasMoreConstants());
        assertEquals("GATE_VIEW", config.getConstantName());
        ZelPathVector pv = ZelPathVector.create(config);
        assertTrue(pv.pushCell("design", "chip", "schematic", null));
        assertTrue(pv.enumerateContextInstances());
        pv.destroy();
        assertNull(pv.getContextNextInstance(), "the destroyed path vector's enumeration ended");
        assertTrue(config.close());
        assertFalse(config.hasMoreConstants(), "the closed configuration's enumeration ended");
        assertNull(config.getConstantName());
        assertNull(config.getConstantValue());

        // Two configurations: one enumeration at a time, of the one last started.
        ZelConfig a = Fixture.open("design", "chip", "config", "r");
        ZelConfig b = Fixture.open("design", "chip", "sim_config", "r");
        a.enumerateConstants();
        b.enumerateConstants();
        List<String> names = new ArrayList<>();
        for (; a.hasMoreConstants(); a.nextConstant()) names.add(a.getConstantName());
        assertEquals(List.of("NETLIST_VIEWS", "SIM_VIEWS"), names, "the cursor is b's, whichever object asks");
        assertTrue(a.close());
        assertTrue(b.close());
    }
}
