package COM.morvent.zel.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNotSame;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import COM.morvent.zel.ZelConfig;
import COM.morvent.zel.ZelLevel;
import COM.morvent.zel.ZelPathVector;
import COM.morvent.zel.ZelWarningListener;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.function.Function;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * ZelLevel against the natives it stands for: every answer the same as a bind and the queries
 * one by one, over the whole example design in each of its configurations; then the bridge's
 * rules (nothing named, a listener calling, warnings, a listener that throws).
 */
class ZelLevelTest {
    @BeforeAll
    static void setUp() {
        Fixture.init();
    }

    /** The instances of a cell view's design file: name, lib, cell, view (null for "-"). */
    static String[][] instances(String lib, String cell, String view) throws IOException {
        Path file = Fixture.examples().resolve("libs").resolve(lib).resolve(cell).resolve(view).resolve("instances.zel");
        List<String[]> found = new ArrayList<>();
        if (Files.exists(file)) {
            for (String line : Files.readAllLines(file)) {
                String[] w = line.trim().split("\\s+");
                if (w.length == 5 && w[0].equals("inst")) found.add(new String[] {w[1], w[2], w[3], w[4].equals("-") ? null : w[4]});
            }
        }
        return found.toArray(new String[0][]);
    }

    static String[] column(String[][] rows, int k) {
        return Arrays.stream(rows).map(r -> r[k]).toArray(String[]::new);
    }

    // The answers of one instance, one native a question, in ZelLevel's terms.
    static List<Object> oneByOne(ZelPathVector pv, String[] inst, boolean occurrencePaths) {
        pv.bind(inst[0], inst[1], inst[2], inst[3], true, true, false, null);
        boolean part = occurrencePaths && pv.isPartOfOccurPath(inst[0]);
        int flags = (pv.isUnbound() ? ZelLevel.UNBOUND : 0) | (pv.isCurrentViewSet() ? ZelLevel.VIEW_SET : 0)
                    | (pv.isCurrentViewListSet() ? ZelLevel.VIEW_LIST_SET : 0)
                    | (pv.isCurrentOccurBinding() ? ZelLevel.OCCUR_BINDING : 0)
                    | (pv.isCurrentViewMRU() ? ZelLevel.VIEW_MRU : 0)
                    | (pv.isInstViewBindingUsed() ? ZelLevel.INST_VIEW_BINDING_USED : 0)
                    | (pv.isCellViewBindingUsed() ? ZelLevel.CELL_VIEW_BINDING_USED : 0)
                    | (pv.isLibListInherited() ? ZelLevel.LIB_LIST_INHERITED : 0)
                    | (pv.isViewListInherited() ? ZelLevel.VIEW_LIST_INHERITED : 0)
                    | (part ? ZelLevel.PART_OF_OCCUR_PATH : 0);
        List<Object> a = new ArrayList<>(Arrays.asList(pv.getCurrentLibBinding(), pv.getCurrentCellBinding(),
                pv.getCurrentViewBinding(), pv.getCurrentLibList(), pv.getCurrentViewList(),
                pv.getCurrentExpandedViewList(), pv.getLibSetOnCellBinding(), pv.getLibListBindWhy(),
                part ? pv.getRawContextInstViewString(inst[0], inst[1], inst[2], inst[3]) : null));
        int why = 0;
        if (!pv.isUnbound() && pv.pushCell(pv.getCurrentLibBinding(), pv.getCurrentCellBinding(), pv.getCurrentViewBinding(), inst[0])) {
            flags |= ZelLevel.PUSHED | (pv.isAtStop() ? ZelLevel.AT_STOP : 0);
            why = pv.getStopWhy();
            assertTrue(pv.popCell());
        }
        a.add(flags);
        a.add(why);
        return a;
    }

    static List<Object> fromLevel(ZelLevel level, int i) {
        return new ArrayList<>(Arrays.asList(level.getCurrentLibBinding(i), level.getCurrentCellBinding(i),
                level.getCurrentViewBinding(i), level.getCurrentLibList(i), level.getCurrentViewList(i),
                level.getCurrentExpandedViewList(i), level.getLibSetOnCellBinding(i), level.getLibListBindWhy(i),
                level.getRawContextInstViewString(i), level.flags(i), level.getStopWhy(i)));
    }

    // Compares the level at pv's level with the natives one by one, then walks below each
    // instance that goes on; answers how many instances it saw.
    static int compareBelow(ZelPathVector pv, String lib, String cell, String view, String path, boolean onOccurrencePath)
            throws IOException {
        String[][] rows = instances(lib, cell, view);
        if (rows.length == 0) return 0;
        ZelLevel.Instances packed = new ZelLevel.Instances(column(rows, 0), column(rows, 1), column(rows, 2), column(rows, 3));
        ZelLevel level = ZelLevel.bind(pv, packed, true, true, false, onOccurrencePath, null);
        assertNotNull(level, path);
        assertEquals(rows.length, level.count(), path);
        int seen = rows.length;
        for (int i = 0; i < rows.length; ++i) {
            assertEquals(oneByOne(pv, rows[i], onOccurrencePath), fromLevel(level, i), path + "/" + rows[i][0]);
        }
        for (int i = 0; i < rows.length; ++i) {
            assertEquals(level.is(i, ZelLevel.PUSHED), ZelLevel.enter(pv, packed, i, true, true, false), path + "/" + rows[i][0]);
            if (level.is(i, ZelLevel.PUSHED)) {
                String[] b = {level.getCurrentLibBinding(i), level.getCurrentCellBinding(i), level.getCurrentViewBinding(i)};
                assertEquals(b[2], pv.getContextViewName());
                if (level.is(i, ZelLevel.AT_STOP)) {
                    assertTrue(pv.popCell());
                    continue;
                }
                seen += compareBelow(pv, b[0], b[1], b[2], path + "/" + rows[i][0],
                                     onOccurrencePath && level.is(i, ZelLevel.PART_OF_OCCUR_PATH));
                assertTrue(pv.popCell());
            }
        }
        return seen;
    }

    @Test
    void answersAsTheNativesOneByOneOverTheExample() throws IOException {
        for (String name : new String[] {"config", "sim_config", "alt_config"}) {
            ZelConfig config = Fixture.open("design", "chip", name, "r");
            try (ZelPathVector pv = ZelPathVector.create(config)) {
                assertTrue(pv.pushCell("design", "chip", "schematic", null));
                assertTrue(compareBelow(pv, "design", "chip", "schematic", name, true) >= 20, name);
                // Off occurrence paths the two occurrence questions are not asked.
                String[][] top = instances("design", "chip", "schematic");
                ZelLevel level = ZelLevel.bind(pv, column(top, 0), column(top, 1), column(top, 2), column(top, 3),
                                               true, true, false, false, null);
                for (int i = 0; i < level.count(); ++i) {
                    assertEquals(0, level.flags(i) & ZelLevel.PART_OF_OCCUR_PATH);
                    assertNull(level.getRawContextInstViewString(i));
                }
            }
            assertTrue(config.close());
        }
    }

    // The Strings answered are kept from one level to the next, keyed on their text, and start
    // afresh once their texts (each with its NUL) would pass 256 KiB: the native's limit.
    @Test
    void theStringsAnsweredAreKeptWithinTheirLimit() {
        final int limit = 256 * 1024;
        ZelConfig config = Fixture.fresh("kept");
        try (ZelPathVector pv = ZelPathVector.create(config)) {
            assertTrue(pv.pushCell("design", "chip", "schematic", null));
            // An instance bound to open in this configuration answers two texts: its library
            // list "design" (7 bytes kept), then the default view list.
            Function<String, ZelLevel> bindWith = list -> {
                assertTrue(config.setDefaultViewListString(list));
                ZelLevel level = ZelLevel.bind(pv, new String[] {"U1"}, new String[] {"design"}, new String[] {"core"},
                                               new String[] {null}, true, true, false, false, null);
                assertEquals(Arrays.asList("design", list), Arrays.asList(level.getCurrentLibList(0), level.getCurrentViewList(0)));
                return level;
            };
            for (int room : new int[] {0, 1}) {
                // A list that fills the limit alone: what was kept before is gone, and the next
                // bind starts afresh with "design" and "b", 9 bytes.
                bindWith.apply(new String(new char[limit - 1]).replace('\0', 'a'));
                ZelLevel first = bindWith.apply("b");
                bindWith.apply(new String(new char[limit - room - 9 - 1]).replace('\0', 'c'));
                ZelLevel again = bindWith.apply("b");
                assertSame(first.getCurrentLibList(0), again.getCurrentLibList(0), "kept up to the limit, room " + room);
                assertSame(first.getCurrentViewList(0), again.getCurrentViewList(0));
                bindWith.apply("d");  // 2 bytes more: past the limit
                assertNotSame(first.getCurrentLibList(0), bindWith.apply("b").getCurrentLibList(0), "afresh, room " + room);
            }
        }
        assertTrue(config.close());
    }

    // A level answers each instance's library list as the natives do, whatever the list of the
    // instance before it: longer, shorter, another letter, another blank, the same; then 300
    // lists of their own, more than the tables of texts hold before they grow.
    @Test
    void eachListAsTheNativesWhateverTheOneBefore() {
        ZelConfig config = Fixture.fresh("lists");
        String[] lists = Arrays.copyOf(new String[] {"design stdcells devices", "design stdcells", "design stdcellz",
            "design stdcells devices", "designxstdcells", "design stdcells", "design stdcells"}, 307);
        for (int i = 7; i < lists.length; ++i) lists[i] = "design l" + i;
        String[][] rows = new String[lists.length][];
        for (int i = 0; i < lists.length; ++i) {
            rows[i] = new String[] {"U" + i, "design", "core", "symbol"};
            assertTrue(config.setInstLibList("design", "chip", "schematic", rows[i][0], lists[i]));
        }
        try (ZelPathVector pv = ZelPathVector.create(config)) {
            assertTrue(pv.pushCell("design", "chip", "schematic", null));
            ZelLevel level = ZelLevel.bind(pv, column(rows, 0), column(rows, 1), column(rows, 2), column(rows, 3),
                                           true, true, false, true, null);
            for (int i = 0; i < lists.length; ++i) {
                assertEquals(lists[i], level.getCurrentLibList(i));
                assertEquals(oneByOne(pv, rows[i], true), fromLevel(level, i), rows[i][0]);
            }
        }
        assertTrue(config.close());
    }

    static List<Object> bound(ZelPathVector pv) {
        return Arrays.asList(pv.getCurrentLibBinding(), pv.getCurrentCellBinding(), pv.getCurrentViewBinding(), pv.isUnbound());
    }

    @Test
    void theBridgesRules() {
        ZelConfig config = Fixture.open("design", "chip", "config", "r");
        ZelPathVector pv = ZelPathVector.create(config);
        assertTrue(pv.pushCell("design", "chip", "schematic", null));
        // The middle master names no cell: its bind warns once.
        String[] names = {"CORE", "X\u00e9\u0000\ud83d\ude00", "REG"}, libs = {"design", "design", "stdcells"},
                 cells = {"core", null, "dff"}, views = {"symbol", "symbol", "symbol"};
        Fixture.Recorder heard = new Fixture.Recorder();
        ZelLevel level = ZelLevel.bind(pv, names, libs, cells, views, true, true, false, true, heard);
        assertEquals(3, level.count());
        Fixture.Recorder alone = new Fixture.Recorder();
        pv.bind(names[1], "design", null, "symbol", true, true, false, alone);
        List<Object> x = bound(pv);
        assertEquals(1, alone.warnings.size());
        assertEquals(alone.warnings, heard.warnings, "the warnings of each bind, in order");
        assertThrows(IllegalArgumentException.class,
            () -> ZelLevel.bind(pv, names, libs, cells, new String[2], true, true, false, true, null));

        // A listener that throws ends the level after the bind it warned of; the exception comes out.
        pv.bind("CORE", "design", "core", "symbol", true, true, false, null);
        IllegalStateException boom = new IllegalStateException("boom");
        assertSame(boom, assertThrows(IllegalStateException.class,
            () -> ZelLevel.bind(pv, names, libs, cells, views, true, true, false, true, (ZelWarningListener) w -> {
                throw boom;
            })));
        assertEquals(x, bound(pv), "X's bind was the last");
        assertNotEquals(x, Arrays.asList(level.getCurrentLibBinding(2), level.getCurrentCellBinding(2),
                                         level.getCurrentViewBinding(2), level.is(2, ZelLevel.UNBOUND)));

        // Inside a listener, and on a path vector that names nothing: null, and nothing bound.
        List<Object> inside = new ArrayList<>();
        pv.bind("X", "design", null, "symbol", true, true, false,
                w -> {
                    inside.add(ZelLevel.bind(pv, names, libs, cells, views, true, true, false, true, null));
                    inside.add(ZelLevel.enter(pv, new ZelLevel.Instances(names, libs, cells, views), 0, true, true, false));
                });
        assertEquals(Arrays.asList(null, false), inside);
        pv.destroy();
        assertNull(ZelLevel.bind(pv, names, libs, cells, views, true, true, false, true, heard));
        assertFalse(ZelLevel.enter(pv, new ZelLevel.Instances(names, libs, cells, views), 0, true, true, false));
        assertEquals(1, heard.warnings.size(), "no listener called");
        assertTrue(config.close());
    }
}
