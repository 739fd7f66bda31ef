package COM.morvent.zel.walk;

import COM.morvent.zel.ZelPathVector;
import java.util.ArrayList;
import java.util.List;

/**
 * The words the walk prints for the bridge's answers: each kind has a phrase for the tree and a
 * token for JSON, whose values must not change with the wording of the tree.
 */
public final class Labels {
    private Labels() {
    }

    /** Which kind of rule chose the view. */
    public enum ViewChoice {
        OCCURRENCE_RULE("occurrence-rule", "occurrence rule"),
        INSTANCE_RULE("instance-rule", "instance rule"),
        CELL_RULE("cell-rule", "cell rule"),
        VIEW_LIST("view-list", "view list"),
        MOST_RECENT_VIEW("most-recent-view", "most recent view"),
        NOTHING_FOUND("nothing-found", "nothing: no view of the list found");

        public final String token;
        public final String label;
        // Made once: the walk labels every instance, and a summary counts by these.
        final String boundToOpen;

        ViewChoice(String token, String label) {
            this.token = token;
            this.label = label;
            this.boundToOpen = label + ", bound to open";
        }
    }

    /** Which kind of rule supplied a library or view list. */
    public enum ListSource {
        DEFAULT("default", "default"),
        LIBRARY_RULE("library-rule", "library rule"),
        CELL_RULE("cell-rule", "cell rule"),
        INSTANCE_RULE("instance-rule", "instance rule"),
        OCCURRENCE_RULE("occurrence-rule", "occurrence rule"),
        /** An occurrence's list hidden by a binding rule, or a library rule's: Java cannot tell. */
        OCCURRENCE_OR_LIBRARY_RULE("occurrence-or-library-rule", "occurrence or library rule"),
        /** Inherited, from above the instances the walk has seen (cannot happen from the top down). */
        RULE_ABOVE("rule-above", "a rule above"),
        /** No list at all. */
        NONE("none", "none"),
        /** A code of getLibListBindWhy this tool does not know. */
        OTHER("other", "other");

        public final String token;
        public final String label;
        final String inherited;

        ListSource(String token, String label) {
            this.token = token;
            this.label = label;
            this.inherited = label + ", inherited";
        }
    }

    private static final int[] STOP_BITS = {
        ZelPathVector.STOP_DEFAULT_LIST, ZelPathVector.STOP_LIBRARY_RULE, ZelPathVector.STOP_CELL_RULE,
        ZelPathVector.STOP_INSTANCE_RULE, ZelPathVector.STOP_OCCURRENCE_RULE,
    };
    static final String[] STOP_NAMES = {
        "default stop list", "library rule", "cell rule", "instance rule", "occurrence rule",
    };
    static final String[] STOP_TOKENS = {
        "default-stop-list", "library-rule", "cell-rule", "instance-rule", "occurrence-rule",
    };
    static final String UNKNOWN_STOP_TOKEN = "unknown";

    /** The kinds of stop rule in a getStopWhy mask, from the most general to the most specific. */
    public static List<String> stopNames(int stopWhy) {
        List<String> names = new ArrayList<>();
        for (int i = 0; i < STOP_BITS.length; ++i) {
            if ((stopWhy & STOP_BITS[i]) != 0) names.add(STOP_NAMES[i]);
        }
        int unknown = unknownStopBits(stopWhy);
        if (unknown != 0) names.add(String.format("unknown bits 0x%x", unknown));
        return names;
    }

    /** The JSON tokens of the kinds of stop rule in a getStopWhy mask, in the order of {@link #stopNames}. */
    public static List<String> stopTokens(int stopWhy) {
        List<String> tokens = new ArrayList<>();
        for (int i = 0; i < STOP_BITS.length; ++i) {
            if ((stopWhy & STOP_BITS[i]) != 0) tokens.add(STOP_TOKENS[i]);
        }
        if (unknownStopBits(stopWhy) != 0) tokens.add(UNKNOWN_STOP_TOKEN);
        return tokens;
    }

    /** Whether the mask holds the kind of stop rule at index i of {@link #STOP_NAMES}. */
    static boolean hasStop(int stopWhy, int i) {
        return (stopWhy & STOP_BITS[i]) != 0;
    }

    static int unknownStopBits(int stopWhy) {
        int known = 0;
        for (int bit : STOP_BITS) known |= bit;
        return stopWhy & ~known;
    }

    /**
     * Which kind of rule chose the view. isCurrentOccurBinding also holds when an occurrence
     * rule's view list chose it; the occurrence's binding is told apart by the instance's own view
     * string, which gives that binding's view rather than the list.
     */
    public static ViewChoice viewChoice(BindAnswers a) {
        if (a.viewMRU) return ViewChoice.MOST_RECENT_VIEW;
        if (a.occurBinding && a.contextViewString != null && !a.contextViewString.equals(a.viewList)) {
            return ViewChoice.OCCURRENCE_RULE;
        }
        if (a.instViewBindingUsed) return ViewChoice.INSTANCE_RULE;
        if (a.cellViewBindingUsed) return ViewChoice.CELL_RULE;
        return a.unbound ? ViewChoice.NOTHING_FOUND : ViewChoice.VIEW_LIST;
    }

    /** Which kind of rule chose the view, as printed: a rule that binds to open says so. */
    public static String chosenBy(BindAnswers a) {
        ViewChoice choice = viewChoice(a);
        boolean rule = choice == ViewChoice.OCCURRENCE_RULE || choice == ViewChoice.INSTANCE_RULE
                       || choice == ViewChoice.CELL_RULE;
        return rule && a.unbound ? choice.boundToOpen : choice.label;
    }

    /**
     * Which kind of rule supplied the view list, without "inherited": the rules in the order in
     * which they win (occurrence, instance, cell, library, default), each recognised by its text.
     * Java cannot read library rules: a list that is none of the others is the library rule's, or
     * on an occurrence path possibly an occurrence's that a binding rule hides.
     *
     * @param inheritedFrom the kind of the level above's list, for an inherited list
     */
    public static ListSource viewListKind(BindAnswers a, ListSource inheritedFrom) {
        if (a.viewListInherited) return inheritedFrom != null ? inheritedFrom : ListSource.RULE_ABOVE;
        if (a.currentViewListSet) return ListSource.INSTANCE_RULE;
        if (a.viewList == null) return ListSource.NONE;
        if (a.onOccurrencePath && a.viewList.equals(a.contextViewString)) return ListSource.OCCURRENCE_RULE;
        if (a.viewList.equals(a.cellViewList)) return ListSource.CELL_RULE;
        if (a.viewList.equals(a.defaultViewList)) return ListSource.DEFAULT;
        return a.onOccurrencePath ? ListSource.OCCURRENCE_OR_LIBRARY_RULE : ListSource.LIBRARY_RULE;
    }

    /** Which kind of rule supplied the view list, as printed. */
    public static String viewListFrom(BindAnswers a, ListSource kind) {
        return a.viewListInherited ? kind.inherited : kind.label;
    }

    /** Which kind of rule supplied the library list, without "inherited". */
    public static ListSource libListKind(BindAnswers a) {
        switch (a.libListWhy) {
            case ZelPathVector.LIB_LIST_DEFAULT: return ListSource.DEFAULT;
            case ZelPathVector.LIB_LIST_INSTANCE_RULE: return ListSource.INSTANCE_RULE;
            case ZelPathVector.LIB_LIST_CELL_RULE: return ListSource.CELL_RULE;
            default: return ListSource.OTHER;
        }
    }

    /** Which kind of rule supplied the library list, as printed. */
    public static String libListFrom(BindAnswers a) {
        return a.libListInherited ? libListKind(a).inherited : libListKind(a).label;
    }
}
