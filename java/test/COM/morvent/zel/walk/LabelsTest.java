package COM.morvent.zel.walk;

import static org.junit.jupiter.api.Assertions.assertEquals;

import COM.morvent.zel.ZelPathVector;
import org.junit.jupiter.api.Test;

/** The kinds of rule the walk names, derived from the bridge's answers. */
class LabelsTest {
    // Flags in the order of the test constructor: currentViewSet, currentViewListSet,
    // occurBinding, viewMRU, instViewBindingUsed, cellViewBindingUsed, libListInherited,
    // viewListInherited.
    private static final String VIEW_SET = "10000000";
    private static final String LIST_SET = "01000000";
    private static final String OCC = "00100000";
    private static final String MRU = "00010000";
    private static final String INST = "00001000";
    private static final String CELL = "00000100";
    private static final String NONE = "00000000";
    private static final String LIST_INHERITED = "00000001";

    private static boolean[] flags(String bits) {
        boolean[] f = new boolean[8];
        for (int i = 0; i < 8; ++i) f[i] = bits.charAt(i) == '1';
        return f;
    }

    private static BindAnswers answers(String bits, boolean unbound, String viewList, String contextViewString,
                                       boolean onOccurrencePath, String cellViewList, String defaultViewList) {
        return new BindAnswers("l", "c", unbound ? null : "v", unbound, "l", viewList, viewList,
                               ZelPathVector.LIB_LIST_DEFAULT, flags(bits), null, contextViewString, onOccurrencePath,
                               cellViewList, defaultViewList);
    }

    @Test
    void whatChoseTheView() {
        Object[][] cases = {
            // flags, unbound, view list, instance's own view string, expected
            {NONE, false, "a b", null, "view list"},
            {NONE, true, "a b", null, "nothing: no view of the list found"},
            {MRU, false, "a b", null, "most recent view"},
            {INST, false, "a b", "x", "instance rule"},
            {VIEW_SET + "", false, "a b", "x", "view list"},  // isCurrentViewSet alone names no rule
            {INST, true, "a b", "", "instance rule, bound to open"},
            {CELL, false, "a b", null, "cell rule"},
            {OCC, false, "a b", "x", "occurrence rule"},                 // the occurrence's binding
            {OCC, true, "a b", "", "occurrence rule, bound to open"},
            {OCC, false, "a b", "a b", "view list"},                     // the occurrence's list chose
            {OCC, false, "a b", null, "view list"},                      // an occurrence's list from above
        };
        for (Object[] c : cases) {
            BindAnswers a = answers((String) c[0], (Boolean) c[1], (String) c[2], (String) c[3], true, null, null);
            assertEquals(c[4], Labels.chosenBy(a), java.util.Arrays.toString(c));
        }
    }

    @Test
    void whichRuleSuppliedTheViewList() {
        Object[][] cases = {
            // flags, view list, own view string, on an occurrence path, cell rule's list, default, from above, expected
            {LIST_INHERITED, "a", null, false, null, "a", Labels.ListSource.OCCURRENCE_RULE, "occurrence rule"},
            {LIST_INHERITED, "a", null, false, null, null, null, "a rule above"},
            {LIST_SET, "a", "a", true, "a", "a", null, "instance rule"},
            {NONE, null, null, false, null, null, null, "none"},
            {NONE, "a", "a", true, "a", "a", null, "occurrence rule"},
            {NONE, "a", "a", false, "a", "a", null, "cell rule"},          // own string without an occurrence
            {NONE, "a", "x", true, "a", "a", null, "cell rule"},           // a binding hides the occurrence
            {NONE, "a", null, false, "b", "a", null, "default"},
            {NONE, "a", null, false, null, "b", null, "library rule"},
            {NONE, "a", "x", true, null, "b", null, "occurrence or library rule"},
        };
        for (Object[] c : cases) {
            BindAnswers a = answers((String) c[0], false, (String) c[1], (String) c[2], (Boolean) c[3], (String) c[4],
                                    (String) c[5]);
            assertEquals(c[7], Labels.viewListKind(a, (Labels.ListSource) c[6]).label, java.util.Arrays.toString(c));
        }
        BindAnswers inherited = answers(LIST_INHERITED, false, "a", null, false, null, null);
        assertEquals("instance rule, inherited", Labels.viewListFrom(inherited, Labels.ListSource.INSTANCE_RULE));
    }

    @Test
    void whichRuleSuppliedTheLibraryList() {
        int[] why = {ZelPathVector.LIB_LIST_DEFAULT, ZelPathVector.LIB_LIST_INSTANCE_RULE,
                     ZelPathVector.LIB_LIST_CELL_RULE, ZelPathVector.LIB_LIST_OTHER};
        String[] kind = {"default", "instance rule", "cell rule", "other"};
        for (int i = 0; i < why.length; ++i) {
            for (boolean inherited : new boolean[] {false, true}) {
                boolean[] f = flags(NONE);
                f[6] = inherited;
                BindAnswers a = new BindAnswers("l", "c", "v", false, "l", "a", "a", why[i], f, null, null, false,
                                                null, null);
                assertEquals(kind[i], Labels.libListKind(a).label);
                assertEquals(inherited ? kind[i] + ", inherited" : kind[i], Labels.libListFrom(a));
            }
        }
    }
}
