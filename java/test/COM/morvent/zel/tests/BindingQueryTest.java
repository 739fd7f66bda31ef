package COM.morvent.zel.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import COM.morvent.zel.ZelConfig;
import COM.morvent.zel.ZelPathVector;
import COM.morvent.zel.ZelWarningListener;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * Binding and stops through the bridge, on the example design: the typical binding query from
 * the open to the close, then one case per kind of rule, with every answer of the binding.
 * The expected answers follow docs/binding.md and the example's configurations.
 */
class BindingQueryTest {
    /** The masters of the example's instances, as its design files place them. */
    static final Map<String, String[]> MASTERS = Map.ofEntries(
        Map.entry("CORE", new String[] {"design", "core", "symbol"}),
        Map.entry("PAD0", new String[] {"devices", "res", "symbol"}),
        Map.entry("ALU0", new String[] {"design", "alu", "symbol"}),
        Map.entry("ALU1", new String[] {"design", "alu", "symbol"}),
        Map.entry("REG", new String[] {"stdcells", "dff", "symbol"}),
        Map.entry("ADD", new String[] {"design", "adder", "symbol"}),
        Map.entry("NEG", new String[] {"stdcells", "inv", "symbol"}),
        Map.entry("FA0", new String[] {"design", "fulladder", "symbol"}),
        Map.entry("FA1", new String[] {"design", "fulladder", "symbol"}),
        Map.entry("G0", new String[] {"stdcells", "nand2", "symbol"}),
        Map.entry("G1", new String[] {"stdcells", "nand2", "symbol"}),
        Map.entry("G2", new String[] {"stdcells", "nor2", "symbol"}),
        Map.entry("X0", new String[] {"stdcells", "inv", "symbol"}),
        Map.entry("MP0", new String[] {"devices", "pmos", "symbol"}));

    @BeforeAll
    static void setUp() {
        Fixture.init();
    }

    static void bind(ZelPathVector pv, String inst, ZelWarningListener listener) {
        String[] m = MASTERS.get(inst);
        pv.isAnyInstRules();
        pv.bind(inst, m[0], m[1], m[2], true, true, false, listener);
    }

    /** From the top of {@code config}, binds and enters each instance of the path in turn. */
    static ZelPathVector descend(ZelConfig config, String... path) {
        ZelPathVector pv = ZelPathVector.create(config);
        assertTrue(pv.pushCell(config.getTopLibName(), config.getTopCellName(), config.getTopViewName(), null));
        for (String inst : path) {
            bind(pv, inst, null);
            assertFalse(pv.isUnbound(), inst);
            assertTrue(pv.pushCell(pv.getCurrentLibBinding(), pv.getCurrentCellBinding(), pv.getCurrentViewBinding(), inst));
        }
        return pv;
    }

    static String bound(ZelPathVector pv) {
        return pv.getCurrentLibBinding() + "/" + pv.getCurrentCellBinding() + "/" + pv.getCurrentViewBinding();
    }

    @Test
    void typicalBindingQuery() {
        // init is done (once per process) by the fixture.
        ZelConfig config = new ZelConfig();
        Fixture.Recorder warnings = new Fixture.Recorder();
        assertTrue(config.open("design", "chip", "config", "r", warnings));
        ZelPathVector pv = new ZelPathVector(config.createNPathVector());
        assertNotEquals(0, pv.pathvector);
        assertTrue(pv.pushCell("design", "chip", "schematic", null));
        assertFalse(pv.isAtStop());
        String[] path = {"CORE", "ALU0", "ADD", "FA1"};
        String[] views = {"design/core/schematic", "design/alu/schematic", "design/adder/schematic",
                          "design/fulladder/schematic"};
        for (int i = 0; i < path.length; ++i) {
            pv.isAnyInstRules();
            String[] m = MASTERS.get(path[i]);
            pv.bind(path[i], m[0], m[1], m[2], true, true, false, warnings);
            assertEquals(views[i], bound(pv));
            assertEquals("design stdcells devices", pv.getCurrentLibList());
            assertEquals("schematic symbol", pv.getCurrentViewList());
            assertEquals(ZelPathVector.LIB_LIST_DEFAULT, pv.getLibListBindWhy());
            assertFalse(pv.isInstViewBindingUsed() || pv.isCellViewBindingUsed() || pv.isCurrentOccurBinding());
            assertTrue(pv.pushCell(pv.getCurrentLibBinding(), pv.getCurrentCellBinding(), pv.getCurrentViewBinding(), path[i]));
            assertFalse(pv.isAtStop(), path[i]);
            assertEquals(0, pv.getStopWhy());
        }
        // G0 of FA1 of ALU0: the occurrence rule binds it to the alternative nand2.
        pv.isAnyInstRules();
        pv.bind("G0", "stdcells", "nand2", "symbol", true, true, false, warnings);
        assertEquals("altcells/nand2/schematic", bound(pv));
        assertTrue(pv.isCurrentOccurBinding());
        assertFalse(pv.isInstViewBindingUsed());
        assertFalse(pv.isSameInstRules("G0", false, null, false, null, false, null, false), "on an occurrence path");
        assertTrue(pv.isSameInstRules("G1", false, null, false, null, false, null, false), "no rules of its own");
        assertTrue(pv.pushCell("altcells", "nand2", "schematic", "G0"));
        assertFalse(pv.isAtStop());
        pv.isAnyInstRules();
        pv.bind("MP0", "devices", "pmos", "symbol", true, true, false, warnings);
        assertEquals("devices/pmos/spice", bound(pv));
        assertTrue(pv.pushCell("devices", "pmos", "spice", "MP0"));
        assertTrue(pv.isAtStop());
        assertEquals(ZelPathVector.STOP_DEFAULT_LIST, pv.getStopWhy());
        assertTrue(pv.popCell());
        assertEquals(ZelPathVector.STOP_DEFAULT_LIST, pv.getStopWhy(), "answers describe the last isAtStop");
        assertFalse(pv.isAtStop());
        pv.destroy();
        assertTrue(config.close());
        assertEquals(List.of(), warnings.warnings);
    }

    /** One bind and what each query answers about it. */
    static final class Case {
        final String config;
        final String[] path;
        final String inst;
        final String binding;
        final String libList;
        final int libListWhy;
        final String viewList;
        final String expandedViewList;
        // isCurrentViewSet, isCurrentViewListSet, isCurrentOccurBinding, isInstViewBindingUsed,
        // isCellViewBindingUsed, isLibListInherited, isViewListInherited, isUnbound
        final String flags;
        final String libSetOnCellBinding;

        Case(String config, String path, String inst, String binding, String libList, int libListWhy, String viewList,
             String expandedViewList, String flags, String libSetOnCellBinding) {
            this.config = config;
            this.path = path.isEmpty() ? new String[0] : path.split("/");
            this.inst = inst;
            this.binding = binding;
            this.libList = libList;
            this.libListWhy = libListWhy;
            this.viewList = viewList;
            this.expandedViewList = expandedViewList;
            this.flags = flags;
            this.libSetOnCellBinding = libSetOnCellBinding;
        }
    }

    static final int DEF = ZelPathVector.LIB_LIST_DEFAULT;
    static final int INST = ZelPathVector.LIB_LIST_INSTANCE_RULE;
    static final int CELL = ZelPathVector.LIB_LIST_CELL_RULE;
    static final String DEFAULT_LIBS = "design stdcells devices";

    static final Case[] CASES = {
        // the view list chooses: default list
        new Case("config", "", "CORE", "design/core/schematic", DEFAULT_LIBS, DEF, "schematic symbol", "schematic symbol",
                 "00000000", null),
        // a library rule's list, with a constant
        new Case("config", "CORE/ALU0/ADD/FA1", "G1", "stdcells/nand2/symbol", DEFAULT_LIBS, DEF,
                 "$(GATE_VIEW) schematic", "symbol schematic", "00000000", null),
        // a cell rule's list
        new Case("config", "CORE", "REG", "stdcells/dff/schematic", DEFAULT_LIBS, DEF, "schematic symbol",
                 "schematic symbol", "00000000", null),
        // an instance view binding (a rule for any view of the ALU) over the cell binding of inv
        new Case("config", "CORE/ALU0", "NEG", "stdcells/inv/schematic", DEFAULT_LIBS, DEF, "$(GATE_VIEW) schematic",
                 "symbol schematic", "10010000", null),
        // a cell view binding (any library)
        new Case("config", "CORE/REG", "X0", "stdcells/inv/behavioral", DEFAULT_LIBS, DEF, "$(GATE_VIEW) schematic",
                 "symbol schematic", "00001000", null),
        // an occurrence binding, on FA1's path (FA0's G0 has none: the default list)
        new Case("config", "CORE/ALU0/ADD/FA1", "G0", "altcells/nand2/schematic", DEFAULT_LIBS, DEF,
                 "$(GATE_VIEW) schematic", "symbol schematic", "00100000", null),
        // bound to open by an instance rule
        new Case("config", "", "PAD0", "null/null/null", DEFAULT_LIBS, DEF, "spice symbol", "spice symbol", "10010001",
                 null),
        // a cell view binding in the first library of the cell rule's own library list
        new Case("alt_config", "CORE/ALU0", "ADD", "altcells/adder/schematic", "altcells design stdcells devices", CELL, "schematic symbol",
                 "schematic symbol", "00001000", "altcells"),
        // the cell rule's library list passes down; an occurrence's view list
        new Case("alt_config", "CORE/ALU0/ADD", "FA0", "design/fulladder/symbol", "altcells design stdcells devices", CELL,
                 "symbol schematic", "symbol schematic", "00100100", null),
        // its sibling: the default list
        new Case("alt_config", "CORE/ALU0/ADD", "FA1", "design/fulladder/schematic", "altcells design stdcells devices", CELL,
                 "schematic symbol", "schematic symbol", "00000100", null),
        // an instance view binding whose library comes from the cell rule of nand2
        new Case("alt_config", "CORE/ALU0/ADD/FA1", "G1", "altcells/nand2/layout", "altcells stdcells devices", CELL,
                 "schematic symbol", "schematic symbol", "10010000", "altcells"),
        // an instance binding to a view the design lacks: bound, not "set"
        new Case("alt_config", "CORE", "ALU1", "design/alu/layout", DEFAULT_LIBS, DEF, "schematic symbol",
                 "schematic symbol", "00010000", null),
        // an instance's object binding
        new Case("alt_config", "CORE/ALU0", "NEG", "stdcells/inv/layout", DEFAULT_LIBS, DEF, "schematic symbol",
                 "schematic symbol", "10010000", null),
        // an instance's library list
        new Case("alt_config", "", "PAD0", "devices/res/symbol", "devices", INST, "schematic symbol", "schematic symbol",
                 "00000000", null),
        // an instance's view list, constants in it (the view is the instance rule's: "set")
        new Case("sim_config", "CORE", "ALU0", "design/alu/schematic", DEFAULT_LIBS, DEF, "$(NETLIST_VIEWS)",
                 "schematic spice symbol", "11000000", null),
        // ... inherited below
        new Case("sim_config", "CORE/ALU0/ADD", "FA0", "design/fulladder/schematic", DEFAULT_LIBS, DEF,
                 "$(NETLIST_VIEWS)", "schematic spice symbol", "10000010", null),
        // an instance rule's list beats the inherited one
        new Case("sim_config", "CORE/ALU0/ADD/FA0", "G2", "stdcells/nor2/behavioral", DEFAULT_LIBS, DEF, "behavioral",
                 "behavioral", "11000000", null),
        // the occurrence's list of FA1 ...
        new Case("sim_config", "CORE/ALU0/ADD", "FA1", "design/fulladder/schematic", DEFAULT_LIBS, DEF,
                 "behavioral schematic", "behavioral schematic", "00100000", null),
        // ... inherited below it
        new Case("sim_config", "CORE/ALU0/ADD/FA1", "G0", "stdcells/nand2/behavioral", DEFAULT_LIBS, DEF,
                 "behavioral schematic", "behavioral schematic", "00100010", null),
        // an instance's library list, and a cell rule's view list
        new Case("sim_config", "CORE", "ALU1", "design/alu/schematic", "altcells design stdcells devices", INST,
                 "schematic symbol", "schematic symbol", "00000000", null),
        // the instance's library list inherited: the adder of altcells is found first
        new Case("sim_config", "CORE/ALU1", "ADD", "altcells/adder/schematic", "altcells design stdcells devices", INST,
                 "$(SIM_VIEWS)", "behavioral schematic spice symbol", "00000100", null),
    };

    @Test
    void everyKindOfRule() {
        for (Case c : CASES) {
            String what = c.config + ":" + String.join("/", c.path) + "/" + c.inst;
            ZelConfig config = Fixture.open("design", "chip", c.config, "r");
            ZelPathVector pv = descend(config, c.path);
            Fixture.Recorder warnings = new Fixture.Recorder();
            bind(pv, c.inst, warnings);
            assertEquals(List.of(), warnings.warnings, what);
            assertEquals(c.binding, bound(pv), what);
            assertEquals(c.libList, pv.getCurrentLibList(), what);
            assertEquals(c.libListWhy, pv.getLibListBindWhy(), what);
            assertEquals(c.viewList, pv.getCurrentViewList(), what);
            assertEquals(c.expandedViewList, pv.getCurrentExpandedViewList(), what);
            boolean[] got = {pv.isCurrentViewSet(), pv.isCurrentViewListSet(), pv.isCurrentOccurBinding(),
                             pv.isInstViewBindingUsed(), pv.isCellViewBindingUsed(), pv.isLibListInherited(),
                             pv.isViewListInherited(), pv.isUnbound()};
            StringBuilder bits = new StringBuilder();
            for (boolean b : got) bits.append(b ? '1' : '0');
            assertEquals(c.flags, bits.toString(), what);
            assertEquals(c.libSetOnCellBinding, pv.getLibSetOnCellBinding(), what);
            assertFalse(pv.isCurrentViewMRU(), what);
            pv.destroy();
            assertTrue(config.close());
        }
    }

    @Test
    void stopsOfEachKind() {
        Object[][] cases = {
            {"config", "CORE/ALU1", ZelPathVector.STOP_INSTANCE_RULE},
            {"config", "CORE/ALU0/ADD/FA0", ZelPathVector.STOP_OCCURRENCE_RULE},
            {"config", "CORE/ALU0/ADD/FA1", 0},
            {"config", "CORE/REG/X0", ZelPathVector.STOP_LIBRARY_RULE},
            {"config", "CORE/ALU0/ADD/FA1/G1", ZelPathVector.STOP_DEFAULT_LIST},
            {"alt_config", "CORE/REG", ZelPathVector.STOP_CELL_RULE},
            {"alt_config", "CORE/ALU0/ADD/FA1/G1", ZelPathVector.STOP_LIBRARY_RULE},
        };
        for (Object[] c : cases) {
            ZelConfig config = Fixture.open("design", "chip", (String) c[0], "r");
            ZelPathVector pv = descend(config, ((String) c[1]).split("/"));
            int why = (Integer) c[2];
            assertEquals(why != 0, pv.isAtStop(), Arrays.toString(c));
            assertEquals(why, pv.getStopWhy(), Arrays.toString(c));
            pv.destroy();
            assertTrue(config.close());
        }
    }

    @Test
    void everyStopAtOnce() throws Exception {
        String cell = Fixture.uniqueCell("stops");
        Fixture.write(Fixture.root().resolve(Fixture.SCRATCH).resolve(cell).resolve("config/config.zel"), String.join("\n",
            "zelvek-config 1",
            "top design chip schematic",
            "default-views schematic",
            "default-stops schematic",
            "library design",
            "  stops schematic",
            "cell design core",
            "  stop",
            "inst design chip schematic CORE",
            "  stop",
            "occurrence CORE",
            "  stop",
            ""));
        ZelConfig config = Fixture.open(Fixture.SCRATCH, cell, "config", "r");
        ZelPathVector pv = ZelPathVector.create(config);
        assertTrue(pv.pushCell("design", "chip", "schematic", null));
        assertTrue(pv.isAtStop(), "the top's view is in the default stop list");
        assertEquals(ZelPathVector.STOP_DEFAULT_LIST | ZelPathVector.STOP_LIBRARY_RULE, pv.getStopWhy());
        assertTrue(pv.pushCell("design", "core", "schematic", "CORE"));
        assertTrue(pv.isAtStop());
        assertEquals(0x1F, pv.getStopWhy());
        // The same through a copy, and the copy's answers are its own.
        ZelPathVector copy = new ZelPathVector(pv.copy_n());
        assertTrue(copy.popCell());
        assertTrue(copy.isAtStop());
        assertEquals(ZelPathVector.STOP_DEFAULT_LIST | ZelPathVector.STOP_LIBRARY_RULE, copy.getStopWhy());
        assertEquals(0x1F, pv.getStopWhy());
        // Clearing the occurrence's and the instance's stop points is seen at once.
        assertTrue(config.setOccurStopPointValue(copy.pathvector, "CORE", null, null, null, false));
        assertTrue(config.setStopPointValue("design", "chip", "schematic", "CORE", false));
        assertTrue(pv.isAtStop());
        assertEquals(ZelPathVector.STOP_DEFAULT_LIST | ZelPathVector.STOP_LIBRARY_RULE | ZelPathVector.STOP_CELL_RULE,
                     pv.getStopWhy());
        copy.destroy();
        pv.destroy();
        assertTrue(config.close());
    }

    @Test
    void instanceViewStrings() {
        ZelConfig sim = Fixture.open("design", "chip", "sim_config", "r");
        ZelPathVector pv = descend(sim, "CORE");
        // The four-string queries take the instance first, then its master, as bind does.
        assertEquals("schematic spice symbol", pv.getContextInstViewString("ALU0", "design", "alu", "symbol"));
        assertEquals("$(NETLIST_VIEWS)", pv.getRawContextInstViewString("ALU0", "design", "alu", "symbol"));
        assertEquals("schematic spice symbol", pv.getContextUnInheritedInstViewList("ALU0"));
        assertEquals("$(NETLIST_VIEWS)", pv.getContextRawUnInheritedInstViewList("ALU0"));
        assertNull(pv.getContextUnInheritedInstViewBinding("ALU0"));
        // ALU1 has a library list alone: nothing from its own rules; the cell rule's list from all.
        assertNull(pv.getContextInstViewString("ALU1", "design", "alu", "symbol"));
        assertEquals("schematic symbol", pv.getInheritedContextInstViewString("ALU1", "design", "alu", "symbol"));
        assertEquals("schematic symbol", pv.getRawInheritedContextInstViewString("ALU1", "design", "alu", "symbol"));
        // REG: the default list, constants expanded or as written.
        assertEquals("behavioral schematic spice symbol", pv.getInheritedContextInstViewString("REG", "stdcells", "dff", "symbol"));
        assertEquals("$(SIM_VIEWS)", pv.getRawInheritedContextInstViewString("REG", "stdcells", "dff", "symbol"));
        pv.destroy();
        assertTrue(sim.close());

        ZelConfig config = Fixture.open("design", "chip", "config", "r");
        pv = descend(config, "CORE", "ALU0");
        assertEquals("schematic", pv.getContextUnInheritedInstViewBinding("NEG"));
        assertEquals("schematic", pv.getContextInstViewString("NEG", "stdcells", "inv", "symbol"));
        assertNull(pv.getContextUnInheritedInstViewList("NEG"));
        assertNull(pv.getContextRawUnInheritedInstViewList("NEG"));
        assertEquals("schematic symbol", pv.getIndexViewList(2));
        pv.destroy();
        pv = descend(config, "CORE", "REG");
        // X0's cell binding counts only for the inherited query.
        assertNull(pv.getContextInstViewString("X0", "stdcells", "inv", "symbol"));
        assertEquals("behavioral", pv.getInheritedContextInstViewString("X0", "stdcells", "inv", "symbol"));
        pv.destroy();
        assertTrue(config.close());
    }

    @Test
    void resetForgetsTheBindingButNotTheLists() {
        ZelConfig config = Fixture.open("design", "chip", "config", "r");
        ZelPathVector pv = descend(config, "CORE");
        bind(pv, "ALU0", null);
        assertEquals("design/alu/schematic", bound(pv));
        pv.resetCurrentBinding();
        assertEquals("null/null/null", bound(pv));
        assertTrue(pv.isUnbound());
        assertEquals(DEFAULT_LIBS, pv.getCurrentLibList());
        assertEquals("schematic symbol", pv.getCurrentViewList());
        bind(pv, "REG", null);
        assertEquals("stdcells/dff/schematic", bound(pv));
        pv.destroy();
        assertTrue(config.close());
    }

    @Test
    void mostRecentViewAndCheckDesign() {
        ZelConfig config = Fixture.fresh("recent");
        assertTrue(config.setTopCellViewName("design", "chip", "schematic"));
        assertTrue(config.setDefaultLibListString("design"));
        assertTrue(config.setDefaultViewListString("schematic"));
        ZelPathVector pv = descend(config);
        pv.bind("CORE", "design", "core", "symbol", true, true, false, null);
        assertEquals("design/core/schematic", bound(pv));
        assertTrue(config.setDefaultViewListString("layout"));
        pv.bind("CORE", "design", "core", "symbol", true, true, false, null);
        assertTrue(pv.isUnbound(), "no layout in the design");
        pv.bind("CORE", "design", "core", "symbol", true, true, true, null);
        assertEquals("design/core/schematic", bound(pv));
        assertTrue(pv.isCurrentViewMRU());
        pv.bind("CORE", "design", "core", "symbol", false, true, false, null);
        assertEquals("design/core/layout", bound(pv), "unchecked: the first view and library");
        assertFalse(pv.isCurrentViewMRU());
        pv.bind("CORE", "design", "core", "symbol", true, true, true, null);
        assertTrue(pv.isUnbound(), "the most recent view, layout, is not in the design");
        pv.destroy();
        assertTrue(config.close());
    }

    @Test
    void bindWarningsReachItsListenerAndAThrowingOneAfterTheBind() {
        ZelConfig config = Fixture.fresh("bindwarn");
        assertTrue(config.setTopCellViewName("design", "chip", "schematic"));
        assertTrue(config.setDefaultViewListString("$(NOPE) schematic"));
        ZelPathVector pv = descend(config);
        Fixture.Recorder warnings = new Fixture.Recorder();
        pv.bind("CORE", "design", "core", "symbol", true, true, false, warnings);
        assertEquals(2, warnings.warnings.size(), warnings.warnings.toString());
        assertTrue(warnings.warnings.get(0).startsWith("unknown constant 'NOPE'"), warnings.warnings.get(0));
        assertTrue(warnings.warnings.get(1).contains("view list '$(NOPE) schematic' cannot be expanded"),
                   warnings.warnings.get(1));
        assertTrue(pv.isUnbound(), "a list whose constants do not expand is empty");

        assertTrue(config.setDefaultLibListString("$(NOPE)"));
        assertTrue(config.setDefaultViewListString("schematic"));
        IllegalStateException boom = new IllegalStateException("boom");
        IllegalStateException thrown = assertThrows(IllegalStateException.class,
            () -> pv.bind("CORE", "design", "core", "symbol", true, true, false, (ZelWarningListener) text -> {
                throw boom;
            }));
        assertSame(boom, thrown);
        assertEquals("design/core/schematic", bound(pv), "the bind was done: the master's library is searched");
        assertEquals("schematic", pv.getCurrentViewList());
        assertThrows(NoSuchMethodError.class,
            () -> pv.bind("CORE", "design", "core", "symbol", true, true, false, new Object()));
        assertEquals("design/core/schematic", bound(pv));
        pv.destroy();
        assertTrue(config.close());
    }
}
