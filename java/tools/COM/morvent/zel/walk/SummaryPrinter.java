package COM.morvent.zel.walk;

import java.io.IOException;
import java.io.Writer;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;

/**
 * Sums the walk up at its end: how many instances, how the walk ends below them, the kinds of
 * stop rule, which kinds of rule chose the views and supplied the lists, and the instances of
 * each bound cell view. It keeps counts only, one per kind and one per bound cell view.
 */
public final class SummaryPrinter implements WalkSink {
    private static final int WIDTH = 100;

    private final Writer out;
    private final WalkHeader header;
    private long instances;
    private int deepest;
    private final Map<String, long[]> ends = new LinkedHashMap<>();
    private final long[] stops = new long[Labels.STOP_NAMES.length + 1];
    private final Map<String, long[]> chosenBy = new HashMap<>();
    private final Map<String, long[]> libLists = new HashMap<>();
    private final Map<String, long[]> viewLists = new HashMap<>();
    private final Map<CellView, long[]> bound = new HashMap<>();
    private final Tally endTally = new Tally(ends), chosenByTally = new Tally(chosenBy), libListTally = new Tally(libLists),
            viewListTally = new Tally(viewLists);
    private static final String[] NOT_WALKED = new String[Node.End.values().length];

    static {
        for (Node.End e : Node.End.values()) NOT_WALKED[e.ordinal()] = "not walked: " + e.label;
    }

    /**
     * Counts by label. The labels are the few strings of {@link Labels} and {@link Node.End},
     * never null, and a walk counts the same one many times in a row: the one counted last is
     * known by its reference, without the map.
     */
    private static final class Tally {
        private final Map<String, long[]> counts;
        private String lastKey;
        private long[] last;

        Tally(Map<String, long[]> counts) {
            this.counts = counts;
        }

        void add(String key) {
            if (key != lastKey) {
                long[] n = counts.get(key);
                if (n == null) counts.put(key, n = new long[1]);
                last = n;
                lastKey = key;
            }
            ++last[0];
        }
    }

    public SummaryPrinter(Writer out, WalkHeader header) {
        this.out = out;
        this.header = header;
        // The ends in a fixed order, so that the section reads the same from one design to the next.
        for (String end : new String[] {"walked below", "no instances", Node.End.STOP.label, "bound to open"}) {
            ends.put(end, new long[1]);
        }
    }

    @Override
    public void enter(Node node) {
        ++instances;
        if (node.depth > deepest) deepest = node.depth;
        BindAnswers a = node.answers;
        String end;
        switch (node.end) {
            case WALKED: end = node.hasInstances() ? "walked below" : "no instances"; break;
            case OPEN: end = "bound to open"; break;
            case STOP: end = Node.End.STOP.label; break;
            default: end = NOT_WALKED[node.end.ordinal()]; break;
        }
        endTally.add(end);
        for (int i = 0; i < Labels.STOP_NAMES.length; ++i) {
            if (Labels.hasStop(node.stopWhy, i)) ++stops[i];
        }
        if (Labels.unknownStopBits(node.stopWhy) != 0) ++stops[Labels.STOP_NAMES.length];
        chosenByTally.add(Labels.chosenBy(a));
        libListTally.add(Labels.libListFrom(a));
        viewListTally.add(Labels.viewListFrom(a, node.viewListKind));
        if (node.binding != null) count(bound, node.binding);
    }

    /** Adds one to the count of {@code key}. */
    static <K> void count(Map<K, long[]> counts, K key) {
        long[] n = counts.get(key);
        if (n == null) counts.put(key, n = new long[1]);
        ++n[0];
    }

    @Override
    public void finish(Node top) throws IOException {
        StringBuilder b = new StringBuilder();
        b.append("Configuration ").append(header.location).append(", revision ").append(header.revision).append('\n');
        b.append("Top: ").append(top.binding);
        int mark = b.length();
        if (!TreePrinter.endOf(b.append("  "), top)) b.setLength(mark);
        b.append('\n');
        b.append(String.format(Locale.ROOT, "%,d instances, %d level%s deep%n", instances, deepest, deepest == 1 ? "" : "s"));
        if (instances > 0) {
            section(b, "How the walk ends below an instance", entries(ends, false));
            List<Entry> stopEntries = new ArrayList<>();
            for (int i = 0; i <= Labels.STOP_NAMES.length; ++i) {
                if (stops[i] > 0) {
                    stopEntries.add(new Entry(i < Labels.STOP_NAMES.length ? Labels.STOP_NAMES[i] : "unknown bits", stops[i]));
                }
            }
            section(b, "Stops, by the kind of rule (an instance may match several)", stopEntries);
            section(b, "View chosen by", entries(chosenBy, true));
            section(b, "Library list from", entries(libLists, true));
            section(b, "View list from", entries(viewLists, true));
            Map<String, long[]> views = new HashMap<>();
            for (Map.Entry<CellView, long[]> e : bound.entrySet()) views.put(e.getKey().toString(), e.getValue());
            section(b, "Instances bound to each cell view (" + bound.size() + ")", entries(views, true));
        }
        out.append(b);
        out.flush();
    }

    private static final class Entry {
        final String label;
        final long count;

        Entry(String label, long count) {
            this.label = label;
            this.count = count;
        }
    }

    /** The counts above zero; sorted, most first, then by name. */
    private static List<Entry> entries(Map<String, long[]> counts, boolean sorted) {
        List<Entry> list = new ArrayList<>();
        for (Map.Entry<String, long[]> e : counts.entrySet()) {
            if (e.getValue()[0] > 0) list.add(new Entry(e.getKey(), e.getValue()[0]));
        }
        if (sorted) {
            list.sort((x, y) -> x.count != y.count ? Long.compare(y.count, x.count) : x.label.compareTo(y.label));
        }
        return list;
    }

    /**
     * A title, then the entries in as many columns as fit in {@link #WIDTH}, down the columns
     * (the most first), each column as wide as its widest entry.
     */
    private static void section(StringBuilder b, String title, List<Entry> entries) {
        if (entries.isEmpty()) return;
        b.append('\n').append(title).append('\n');
        int n = entries.size();
        String[] counts = new String[n];
        for (int i = 0; i < n; ++i) counts[i] = String.format(Locale.ROOT, "%,d", entries.get(i).count);
        int rows = n;
        int[] labelWidth = null;
        int[] countWidth = null;
        for (int columns = Math.min(n, 8); columns >= 1; --columns) {
            rows = (n + columns - 1) / columns;
            if (columns > 1 && (columns - 1) * rows >= n) continue;  // a column would be empty
            labelWidth = new int[columns];
            countWidth = new int[columns];
            int width = 2 + 4 * (columns - 1);
            for (int c = 0; c < columns; ++c) {
                for (int i = c * rows; i < Math.min(n, (c + 1) * rows); ++i) {
                    labelWidth[c] = Math.max(labelWidth[c], entries.get(i).label.length());
                    countWidth[c] = Math.max(countWidth[c], counts[i].length());
                }
                width += labelWidth[c] + 2 + countWidth[c];
            }
            if (width <= WIDTH) break;
        }
        for (int r = 0; r < rows; ++r) {
            b.append("  ");
            for (int c = 0; c < labelWidth.length && c * rows + r < n; ++c) {
                int i = c * rows + r;
                String label = entries.get(i).label;
                if (c > 0) b.append("    ");
                b.append(label).append(" ".repeat(labelWidth[c] - label.length() + 2))
                        .append(" ".repeat(countWidth[c] - counts[i].length())).append(counts[i]);
            }
            b.append('\n');
        }
    }
}
