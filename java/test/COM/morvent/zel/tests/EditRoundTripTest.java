package COM.morvent.zel.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import COM.morvent.zel.ZelConfig;
import COM.morvent.zel.ZelPathVector;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.function.Predicate;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * Edits of every kind, with names and values outside ASCII (supplementary characters too), are
 * saved and read back: every answer the classes give about the configuration is the same after a
 * reopen as before the save.
 */
class EditRoundTripTest {
    // Outside ASCII: Latin-1, Greek, CJK, and characters outside the BMP (surrogate pairs in Java).
    static final String CELL = "Zähler";
    static final String INST = "I\uD83D\uDE00";          // I😀
    static final String CLEF = "\uD834\uDD1E";           // 𝄞
    static final String DELTA = "ΔT";

    @BeforeAll
    static void setUp() {
        Fixture.init();
    }

    /** One edit: what it does, and that the library took it. */
    private static final class Edit {
        final String what;
        final Predicate<ZelConfig> apply;

        Edit(String what, Predicate<ZelConfig> apply) {
            this.what = what;
            this.apply = apply;
        }
    }

    private static List<Edit> edits() {
        List<Edit> e = new ArrayList<>();
        e.add(new Edit("top", c -> c.setTopCellViewName("design", CELL, "schematic")));
        e.add(new Edit("default views", c -> c.setDefaultViewListString("schematic symbol " + CLEF + "view")));
        e.add(new Edit("default libs", c -> c.setDefaultLibListString("design stdcells")));
        e.add(new Edit("default stops", c -> c.setDefaultStopListString("symbol spice")));
        e.add(new Edit("cell binding", c -> c.replaceCellViewBinding("design", CELL, "symbol")));
        e.add(new Edit("cell view list", c -> c.replaceCellViewList("design", CELL, "$(" + DELTA + ") schematic")));
        e.add(new Edit("any-library cell binding", c -> c.replaceCellViewBinding(null, "inv", "behavioral")));
        e.add(new Edit("cell library list", c -> c.setCellLibList(CELL, "design altcells")));
        e.add(new Edit("cell stop point", c -> c.setStopPointValue("design", "dff", null, null, true)));
        e.add(new Edit("instance binding", c -> c.replaceInstViewBinding("design", CELL, "schematic", INST, "layout")));
        e.add(new Edit("instance view list", c -> c.replaceInstViewList("design", CELL, "schematic", INST, "symbol schematic")));
        e.add(new Edit("instance library list", c -> c.setInstLibList("design", CELL, "schematic", INST, "altcells stdcells")));
        e.add(new Edit("any-view instance list", c -> c.replaceInstViewList("design", CELL, null, "U1", "spice")));
        e.add(new Edit("instance stop point", c -> c.setStopPointValue("design", CELL, "schematic", "U2", true)));
        e.add(new Edit("bind to open", c -> c.setBindToOpen("design", CELL, "schematic", "U3", true)));
        e.add(new Edit("constant", c -> c.replaceConstant(DELTA, "schematic 漢字")));
        e.add(new Edit("constant using a constant", c -> c.replaceConstant("B", "$(" + DELTA + ") " + CLEF)));
        e.add(new Edit("note line", c -> c.addNoteLine("first line")));
        e.add(new Edit("note line outside the BMP", c -> c.addNoteLine(CLEF + " second, \"quoted\"")));
        // Made and removed again: nothing of them may come back.
        e.add(new Edit("cell list made", c -> c.replaceCellViewList("design", "gone", "x")));
        e.add(new Edit("cell list deleted", c -> c.deleteCellViewList("design", "gone")));
        e.add(new Edit("instance binding made", c -> c.replaceInstViewBinding("design", CELL, "schematic", "U9", "x")));
        e.add(new Edit("instance binding deleted", c -> c.deleteInstViewBinding("design", CELL, "schematic", "U9")));
        e.add(new Edit("instance list made", c -> c.replaceInstViewList("design", CELL, "schematic", "U8", "x")));
        e.add(new Edit("instance list deleted", c -> c.deleteInstViewList("design", CELL, "schematic", "U8")));
        e.add(new Edit("instance libs made", c -> c.setInstLibList("design", CELL, "schematic", "U7", "x")));
        e.add(new Edit("instance libs deleted", c -> c.deleteInstLibList("design", CELL, "schematic", "U7")));
        e.add(new Edit("cell binding made", c -> c.replaceCellViewBinding("design", "gone2", "x")));
        e.add(new Edit("cell binding deleted", c -> c.deleteCellViewBinding("design", "gone2")));
        e.add(new Edit("cell libs made", c -> c.setCellLibList("gone3", "x")));
        e.add(new Edit("cell libs deleted", c -> c.deleteCellLibList("gone3")));
        e.add(new Edit("constant made", c -> c.replaceConstant("GONE", "x")));
        e.add(new Edit("constant deleted", c -> c.deleteConstant("GONE")));
        return e;
    }

    /** Everything the classes answer about the edited configuration. */
    static Map<String, Object> snapshot(ZelConfig c) {
        Map<String, Object> s = new LinkedHashMap<>();
        s.put("top", List.of(String.valueOf(c.getTopLibName()), String.valueOf(c.getTopCellName()),
                             String.valueOf(c.getTopViewName())));
        s.put("defaults", java.util.Arrays.asList(c.getDefaultViewListString(), c.getDefaultLibListString(),
                                                  c.getDefaultStopListString()));
        for (String[] cell : new String[][] {{"design", CELL}, {null, "inv"}, {"design", "gone"}, {"design", "gone2"}}) {
            s.put("cell " + cell[0] + " " + cell[1],
                  java.util.Arrays.asList(c.getCellViewBinding(cell[0], cell[1]), c.getCellViewList(cell[0], cell[1])));
        }
        List<String> constants = new ArrayList<>();
        for (c.enumerateConstants(); c.hasMoreConstants(); c.nextConstant()) {
            constants.add(c.getConstantName() + "=" + c.getConstantValue());
        }
        s.put("constants", constants);
        s.put("resolved", java.util.Arrays.asList(c.resolveConstants("$(B)"), c.evalConstants("  $(B)   x ")));
        s.put("note", c.getNoteString());
        s.put("occurrences", c.isContainingOccur());

        ZelPathVector pv = ZelPathVector.create(c);
        assertTrue(pv.pushCell("design", CELL, "schematic", null));
        s.put("any instance rules", pv.isAnyInstRules());
        List<String> instances = new ArrayList<>();
        if (pv.enumerateContextInstances()) {
            for (String name = pv.getContextNextInstance(); name != null; name = pv.getContextNextInstance()) instances.add(name);
        }
        instances.sort(null);
        s.put("instances with rules", instances);
        s.put("rules of " + INST, pv.isSameInstRules(INST, true, "altcells stdcells", true, "layout", true,
                                                     "symbol schematic", false));
        s.put("rules of U1", pv.isSameInstRules("U1", false, null, false, null, true, "spice", false));
        s.put("no rules of U9", pv.isSameInstRules("U9", false, null, false, null, false, null, false));
        s.put("occurrence U4", pv.isPartOfOccurPath("U4"));
        s.put("occurrence U5", pv.isPartOfOccurPath("U5"));
        // What binds and stops read of the rules.
        for (String inst : new String[] {INST, "U1", "U2", "U3", "U4", "U5"}) {
            pv.isAnyInstRules();
            pv.bind(inst, "stdcells", "nand2", "symbol", true, true, false, null);
            List<Object> answers = new ArrayList<>(java.util.Arrays.asList(
                pv.getCurrentLibBinding(), pv.getCurrentCellBinding(), pv.getCurrentViewBinding(),
                pv.getCurrentLibList(), pv.getCurrentViewList(), pv.getCurrentExpandedViewList(),
                pv.getLibListBindWhy(), pv.isCurrentViewSet(), pv.isCurrentViewListSet(), pv.isCurrentOccurBinding(),
                pv.isInstViewBindingUsed(), pv.isCellViewBindingUsed(), pv.isUnbound()));
            if (!pv.isUnbound()) {
                assertTrue(pv.pushCell(pv.getCurrentLibBinding(), pv.getCurrentCellBinding(), pv.getCurrentViewBinding(), inst));
                answers.add(pv.isAtStop() ? pv.getStopWhy() : 0);
                assertTrue(pv.popCell());
            }
            s.put("bind " + inst, answers);
        }
        pv.destroy();
        return s;
    }

    @Test
    void everyEditComesBackAfterSaveAndReopen() {
        String cell = Fixture.uniqueCell("Edits-ü" + CLEF);
        ZelConfig config = Fixture.open(Fixture.SCRATCH, cell, "config", "w");
        for (Edit edit : edits()) {
            assertTrue(edit.apply.test(config), edit.what);
            assertTrue(config.isModified(), edit.what);
        }
        // Occurrence rules are set through a path vector standing where the instance is.
        ZelPathVector pv = ZelPathVector.create(config);
        assertTrue(pv.pushCell("design", CELL, "schematic", null));
        assertTrue(config.setOccurBinding(pv.pathvector, "stdcells", "nand2", "schematic", "U4"));
        assertTrue(config.setOccurStopPointValue(pv.pathvector, "U5", null, null, null, true));
        assertTrue(config.setOccurBinding(pv.pathvector, "stdcells", "nor2", "schematic", "U6"));
        assertTrue(config.deleteOccurBinding(pv.pathvector, "U6"));
        pv.destroy();

        Map<String, Object> before = snapshot(config);
        assertTrue(config.save(null));
        assertFalse(config.isModified());
        assertTrue(config.close());

        ZelConfig back = Fixture.open(Fixture.SCRATCH, cell, "config", "r");
        Map<String, Object> after = snapshot(back);
        assertEquals(before, after);
        assertEquals(1, back.getRevision());

        // And what they are, so that an edit lost before the save is caught as well.
        assertEquals(List.of("design", CELL, "schematic"), after.get("top"));
        assertEquals(List.of("schematic symbol " + CLEF + "view", "design stdcells", "symbol spice"), after.get("defaults"));
        assertEquals(List.of("symbol", "$(" + DELTA + ") schematic"), after.get("cell design " + CELL));
        assertEquals(java.util.Arrays.asList("behavioral", null), after.get("cell null inv"));
        assertEquals(java.util.Arrays.asList(null, null), after.get("cell design gone"));
        assertEquals(java.util.Arrays.asList(null, null), after.get("cell design gone2"));
        assertEquals(List.of(DELTA + "=schematic 漢字", "B=$(" + DELTA + ") " + CLEF), after.get("constants"));
        assertEquals(List.of("schematic 漢字 " + CLEF, "schematic 漢字 " + CLEF + " x"), after.get("resolved"));
        assertEquals("first line\n" + CLEF + " second, \"quoted\"", after.get("note"));
        assertEquals(true, after.get("occurrences"));
        assertEquals(true, after.get("any instance rules"));
        assertEquals(List.of(INST, "U2", "U3"), after.get("instances with rules"));
        assertEquals(true, after.get("rules of " + INST));
        assertEquals(true, after.get("rules of U1"));
        assertEquals(true, after.get("no rules of U9"));
        assertEquals(true, after.get("occurrence U4"));
        assertEquals(true, after.get("occurrence U5"));
        // The instance's view binding and library list; its view list is the instance's too.
        assertEquals(List.of("altcells", "nand2", "layout", "altcells stdcells", "symbol schematic", "symbol schematic",
                             ZelPathVector.LIB_LIST_INSTANCE_RULE, true, true, false, true, false, false, 0),
                     after.get("bind " + INST));
        // An any-view list: nand2 has no spice view, so U1 stays open.
        assertEquals("spice", ((List<?>) after.get("bind U1")).get(4));
        assertEquals(true, ((List<?>) after.get("bind U1")).get(12));
        assertEquals(ZelPathVector.STOP_INSTANCE_RULE, ((List<?>) after.get("bind U2")).get(13), "U2's stop point");
        assertEquals(true, ((List<?>) after.get("bind U3")).get(12), "bound to open");
        assertEquals(List.of("stdcells", "nand2", "schematic"), ((List<?>) after.get("bind U4")).subList(0, 3));
        assertEquals(true, ((List<?>) after.get("bind U4")).get(9), "the occurrence binding");
        assertEquals(ZelPathVector.STOP_OCCURRENCE_RULE, ((List<?>) after.get("bind U5")).get(13));
        assertTrue(back.close());
    }

    @Test
    void refusedEditsChangeNothing() {
        ZelConfig config = Fixture.fresh("refused");
        assertFalse(config.replaceCellViewBinding("design", null, "x"), "no cell");
        assertFalse(config.replaceInstViewBinding("design", "c", "v", null, "x"), "no instance");
        assertFalse(config.deleteCellViewList("design", "never"), "nothing to delete");
        assertFalse(config.deleteConstant("NEVER"));
        assertFalse(config.deleteNote(), "no note");
        // Object view strings are not kept by this library.
        assertFalse(config.setObjViewString("design", "alu", "schematic", "NEG", "symbol"));
        assertNull(config.getObjViewString("design", "alu", "schematic", "NEG"));
        assertFalse(config.deleteObjViewString("design", "alu", "schematic", "NEG"));
        assertFalse(config.isModified());
        assertNull(config.getNoteString());
        assertTrue(config.close());
    }

    @Test
    void noteEdits() {
        ZelConfig config = Fixture.fresh("note");
        assertTrue(config.replaceNoteLine("only"));
        assertEquals("only", config.getNoteString());
        assertTrue(config.addNoteLine("two"));
        assertTrue(config.replaceNoteLine("2"));
        assertEquals("only\n2", config.getNoteString());
        assertTrue(config.deleteNote());
        assertNull(config.getNoteString());
        assertTrue(config.close());
    }

    @Test
    void constantsResolveAndFail() {
        ZelConfig config = Fixture.fresh("constants");
        assertTrue(config.replaceConstant("WHICH", "MAIN"));
        assertTrue(config.replaceConstant("MAIN", "schematic  symbol"));
        assertEquals("schematic  symbol", config.resolveConstants("$($(WHICH))"));
        assertEquals("schematic symbol", config.evalConstants("$($(WHICH))"));
        assertNull(config.resolveConstants("$(UNKNOWN)"), "unknown name");
        assertTrue(config.replaceConstant("A", "$(B)"));
        assertTrue(config.replaceConstant("B", "$(A)"));
        assertNull(config.evalConstants("$(A)"), "a cycle");
        assertTrue(config.deleteConstant("A"));
        List<String> names = new ArrayList<>();
        for (config.enumerateConstants(); config.hasMoreConstants(); config.nextConstant()) names.add(config.getConstantName());
        assertEquals(List.of("WHICH", "MAIN", "B"), names);
        assertTrue(config.close());
    }
}
