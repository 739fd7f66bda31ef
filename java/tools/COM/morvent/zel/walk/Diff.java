package COM.morvent.zel.walk;

import java.io.IOException;
import java.io.Writer;
import java.util.HashMap;
import java.util.Map;

/**
 * Walks two configurations of one design side by side and prints the instances, by path, whose
 * binding, rule kinds, lists or end differ, with both answers. Instances are paired by name
 * level by level; below an instance that one walk does not go into, nothing is compared.
 */
public final class Diff {
    private final Writer out;
    private final Walker a;
    private final Walker b;
    private final WalkHeader headerA;
    private final WalkHeader headerB;
    private final StringBuilder la = new StringBuilder(256);
    private final StringBuilder lb = new StringBuilder(256);
    private long compared;
    private long differ;
    private long alone;
    private boolean bindingsOnly;

    public Diff(Writer out, Walker a, WalkHeader headerA, Walker b, WalkHeader headerB) {
        this.out = out;
        this.a = a;
        this.b = b;
        this.headerA = headerA;
        this.headerB = headerB;
    }

    /** Compares only what each instance binds to (its lib/cell/view, or open), not the rules that chose it. */
    public Diff bindingsOnly(boolean only) {
        bindingsOnly = only;
        return this;
    }

    /**
     * Walks both and prints what differs.
     *
     * @return whether anything differs
     */
    public boolean run() throws WalkException, IOException {
        out.write("Comparing " + headerA.location + " (A) with " + headerB.location + " (B)\n");
        Node topA = a.start();
        try {
            Node topB = b.start();
            try {
                same("(top)", topA, topB);
                walkBoth(topA, topB);
            } finally {
                b.close();
            }
        } finally {
            a.close();
        }
        if (differ == 0 && alone == 0) {
            out.write("Same: " + plural(compared, "instance") + " walked alike\n");
        } else {
            out.write(String.format("Differ: %d of %s", differ, plural(compared, "instance compared")));
            if (alone > 0) out.write(", " + plural(alone, "instance") + " in one walk only");
            out.write("\n");
        }
        out.flush();
        return differ > 0 || alone > 0;
    }

    private void walkBoth(Node parentA, Node parentB) throws IOException {
        DesignFile.Instance[] ia = parentA.below;
        DesignFile.Instance[] ib = parentB.below;
        if (ia == null || ib == null) return;
        // The same cell view on both sides (most often): the same instances in the same order.
        Map<String, Integer> inB = null;
        if (ia != ib) {
            inB = new HashMap<>();
            for (int j = 0; j < ib.length; ++j) inB.put(ib[j].name, j);
        }
        boolean[] paired = new boolean[ib.length];
        for (int i = 0; i < ia.length; ++i) {
            Integer j = inB == null ? Integer.valueOf(i) : inB.get(ia[i].name);
            if (j == null) {
                onlyIn("A", parentA, ia[i]);
                continue;
            }
            paired[j] = true;
            Node na = a.bind(parentA, ia[i], i == ia.length - 1);
            Node nb = b.bind(parentB, ib[j], j == ib.length - 1);
            same(na.path(), na, nb);
            walkBoth(na, nb);
            b.leave(nb);
            a.leave(na);
        }
        for (int j = 0; j < ib.length; ++j) {
            if (!paired[j]) onlyIn("B", parentB, ib[j]);
        }
    }

    private void same(String path, Node na, Node nb) throws IOException {
        if (na.parent != null) ++compared;
        describe(la, na, bindingsOnly);
        describe(lb, nb, bindingsOnly);
        if (la.toString().contentEquals(lb)) return;
        if (na.parent != null) ++differ;
        out.append(path).append('\n');
        out.append("  A: ").append(la).append('\n');
        out.append("  B: ").append(lb).append('\n');
    }

    private static void describe(StringBuilder l, Node node, boolean bindingsOnly) {
        l.setLength(0);
        if (node.parent != null) TreePrinter.appendCellView(l, node.master).append(" -> ");
        if (node.binding == null) l.append("open");
        else TreePrinter.appendCellView(l, node.binding);
        if (bindingsOnly) return;
        if (node.parent != null) TreePrinter.describe(l, node, null, "; ");
        TreePrinter.endOf(l, node);
    }

    private void onlyIn(String side, Node parent, DesignFile.Instance inst) throws IOException {
        ++alone;
        String path = parent.parent == null ? Node.pathName(inst.name) : parent.path() + "/" + Node.pathName(inst.name);
        out.append(path).append(": in the walk of ").append(side).append(" only (master ")
                .append(inst.master.toString()).append(")\n");
    }

    private static String plural(long n, String what) {
        return n + " " + (n == 1 ? what : what.replaceFirst("instance", "instances"));
    }
}
