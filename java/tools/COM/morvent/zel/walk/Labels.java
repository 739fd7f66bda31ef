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

    /** Which kind of rule chose the view. */
    public static String chosenBy(BindAnswers a) {
        if (a.viewMRU) return "most recent view";
        if (a.occurBinding) return "occurrence rule";
        if (a.instViewBindingUsed) return "instance rule";
        if (a.cellViewBindingUsed) return "cell rule";
        if (a.unbound) return "nothing: no view of the list found";
        return "view list";
    }

    /** Which kind of rule supplied the library list. */
    public static String libListFrom(BindAnswers a) {
        String from;
        switch (a.libListWhy) {
            case ZelPathVector.LIB_LIST_DEFAULT: from = "default"; break;
            case ZelPathVector.LIB_LIST_INSTANCE_RULE: from = "instance rule"; break;
            case ZelPathVector.LIB_LIST_CELL_RULE: from = "cell rule"; break;
            default: from = "other"; break;
        }
        return a.libListInherited ? from + ", inherited" : from;
    }
}
