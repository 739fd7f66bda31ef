package COM.morvent.zel.walk;

import java.io.IOException;
import java.io.Writer;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * Prints the walk as a Graphviz graph at its end: a node for each bound cell view, and an edge
 * from a cell view to each cell view its instances bind to, labelled with how many instances
 * do. However many instances a design has, the graph has as many nodes as it has cell views.
 */
public final class DotPrinter implements WalkSink {
    private static final Object OPEN = "open";

    /** A bound cell view, or open. */
    private static final class Vertex {
        final int id;
        long instances;
        long stops;
        /** Instances below which the walk went no further for another reason, and the first reason. */
        long notWalked;
        Node.End why;

        Vertex(int id) {
            this.id = id;
        }
    }

    private final Writer out;
    private final WalkHeader header;
    private final Map<Object, Vertex> vertices = new LinkedHashMap<>();
    /** From vertex, to vertex -> instances. */
    private final Map<List<Integer>, long[]> edges = new LinkedHashMap<>();
    private Node top;

    public DotPrinter(Writer out, WalkHeader header) {
        this.out = out;
        this.header = header;
    }

    @Override
    public void start(Node top) {
        this.top = top;
        vertex(top.binding);
    }

    private Vertex vertex(Object key) {
        Vertex v = vertices.get(key);
        if (v == null) vertices.put(key, v = new Vertex(vertices.size()));
        return v;
    }

    @Override
    public void enter(Node node) {
        Vertex to = vertex(node.binding != null ? node.binding : OPEN);
        ++to.instances;
        if (node.end == Node.End.STOP) {
            ++to.stops;
        } else if (node.end != Node.End.WALKED && node.end != Node.End.OPEN) {
            if (to.notWalked++ == 0) to.why = node.end;
        }
        SummaryPrinter.count(edges, List.of(vertices.get(node.parent.binding).id, to.id));
    }

    @Override
    public void finish(Node top) throws IOException {
        StringBuilder b = new StringBuilder();
        b.append("// ").append(Walk.NAME).append(" --dot: the cell views that ").append(header.location)
                .append(" binds, and how many instances bind from one to another\n");
        b.append("digraph ").append(quote(header.location.toString())).append(" {\n");
        b.append("  node [shape=box, fontname=\"Helvetica\", fontsize=10];\n");
        b.append("  edge [fontname=\"Helvetica\", fontsize=9];\n");
        for (Map.Entry<Object, Vertex> e : vertices.entrySet()) {
            Vertex v = e.getValue();
            b.append("  n").append(v.id).append(" [label=");
            if (e.getKey() == OPEN) {
                b.append(quote("open\n" + instances(v.instances))).append(", shape=ellipse, style=dashed];\n");
                continue;
            }
            StringBuilder label = new StringBuilder(e.getKey().toString()).append('\n');
            label.append(v.id == 0 ? "top" : instances(v.instances));
            if (v.id == 0 && this.top.end != Node.End.WALKED) {
                label.append(", ").append(this.top.end == Node.End.STOP ? "stop" : this.top.end.label);
            }
            if (v.stops > 0) label.append(v.stops == v.instances ? ", stop" : ", " + v.stops + " stop");
            if (v.notWalked > 0) {
                label.append(", ").append(v.notWalked == v.instances ? "" : v.notWalked + " ").append(v.why.label);
            }
            b.append(quote(label.toString()));
            if (v.stops > 0 && v.stops == v.instances) b.append(", style=filled, fillcolor=\"#e8e8e8\"");
            if (v.notWalked > 0 && v.notWalked == v.instances) b.append(", style=dashed");
            b.append("];\n");
        }
        for (Map.Entry<List<Integer>, long[]> e : edges.entrySet()) {
            b.append("  n").append(e.getKey().get(0)).append(" -> n").append(e.getKey().get(1))
                    .append(" [label=\"").append(e.getValue()[0]).append("\"];\n");
        }
        b.append("}\n");
        out.append(b);
        out.flush();
    }

    private static String instances(long n) {
        return n == 1 ? "1 instance" : n + " instances";
    }

    /** A Graphviz string: in double quotes, with backslashes, quotes and line ends escaped. */
    static String quote(String text) {
        StringBuilder q = new StringBuilder("\"");
        for (int i = 0; i < text.length(); ++i) {
            char c = text.charAt(i);
            if (c == '\n') q.append("\\n");
            else if (c == '"' || c == '\\') q.append('\\').append(c);
            else if (c < 0x20) q.append(' ');
            else q.append(c);
        }
        return q.append('"').toString();
    }
}
