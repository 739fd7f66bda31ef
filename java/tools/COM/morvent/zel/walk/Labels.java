package COM.morvent.zel.walk;

import COM.morvent.zel.ZelPathVector;
import java.util.ArrayList;
import java.util.List;

/** The words the walk prints for the bridge's answers. */
public final class Labels {
    private Labels() {
    }

    private static final int[] STOP_BITS = {
        ZelPathVector.STOP_DEFAULT_LIST, ZelPathVector.STOP_LIBRARY_RULE, ZelPathVector.STOP_CELL_RULE,
        ZelPathVector.STOP_INSTANCE_RULE, ZelPathVector.STOP_OCCURRENCE_RULE,
    };
    private static final String[] STOP_NAMES = {
        "default stop list", "library rule", "cell rule", "instance rule", "occurrence rule",
    };

    /** The kinds of stop rule in a getStopWhy mask, from the most general to the most specific. */
    public static List<String> stopNames(int stopWhy) {
        List<String> names = new ArrayList<>();
        int known = 0;
        for (int i = 0; i < STOP_BITS.length; ++i) {
            known |= STOP_BITS[i];
            if ((stopWhy & STOP_BITS[i]) != 0) names.add(STOP_NAMES[i]);
        }
        if ((stopWhy & ~known) != 0) names.add(String.format("unknown bits 0x%x", stopWhy & ~known));
        return names;
    }

    /**
     * Which kind of rule chose the view. isCurrentOccurBinding also holds when an occurrence
     * rule's view list chose it; the occurrence's binding is told apart by the instance's own view
     * string, which gives that binding's view rather than the list.
     */
    public static String chosenBy(BindAnswers a) {
        String rule = null;
        if (a.viewMRU) return "most recent view";
        if (a.occurBinding && occurrenceBindingChose(a)) rule = "occurrence rule";
        else if (a.instViewBindingUsed) rule = "instance rule";
        else if (a.cellViewBindingUsed) rule = "cell rule";
        if (rule != null) return a.unbound ? rule + ", bound to open" : rule;
        return a.unbound ? "nothing: no view of the list found" : "view list";
    }

    private static boolean occurrenceBindingChose(BindAnswers a) {
        return a.contextViewString != null && !a.contextViewString.equals(a.viewList);
    }

    /**
     * Which kind of rule supplied the view list, without "inherited": the rules in the order in
     * which they win (occurrence, instance, cell, library, default), each recognised by its text.
     * Java cannot read library rules: a list that is none of the others is the library rule's, or
     * on an occurrence path possibly an occurrence's that a binding rule hides.
     *
     * @param inheritedFrom the kind of the level above's list, for an inherited list
     */
    public static String viewListKind(BindAnswers a, String inheritedFrom) {
        if (a.viewListInherited) return inheritedFrom != null ? inheritedFrom : "a rule above";
        if (a.currentViewListSet) return "instance rule";
        if (a.viewList == null) return "none";
        if (a.onOccurrencePath && a.viewList.equals(a.contextViewString)) return "occurrence rule";
        if (a.viewList.equals(a.cellViewList)) return "cell rule";
        if (a.viewList.equals(a.defaultViewList)) return "default";
        return a.onOccurrencePath ? "occurrence or library rule" : "library rule";
    }

    /** Which kind of rule supplied the view list, as printed. */
    public static String viewListFrom(BindAnswers a, String kind) {
        return a.viewListInherited ? kind + ", inherited" : kind;
    }

    /** Which kind of rule supplied the library list, without "inherited". */
    public static String libListKind(BindAnswers a) {
        switch (a.libListWhy) {
            case ZelPathVector.LIB_LIST_DEFAULT: return "default";
            case ZelPathVector.LIB_LIST_INSTANCE_RULE: return "instance rule";
            case ZelPathVector.LIB_LIST_CELL_RULE: return "cell rule";
            default: return "other";
        }
    }

    /** Which kind of rule supplied the library list, as printed. */
    public static String libListFrom(BindAnswers a) {
        return a.libListInherited ? libListKind(a) + ", inherited" : libListKind(a);
    }
}
