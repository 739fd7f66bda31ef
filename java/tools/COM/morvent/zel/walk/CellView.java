package COM.morvent.zel.walk;

import java.util.Objects;

/** A library, cell and view: where an instance's master is, or what it binds to. */
public final class CellView {
    public final String lib;
    public final String cell;
    public final String view;

    public CellView(String lib, String cell, String view) {
        this.lib = lib;
        this.cell = cell;
        this.view = view;
    }

    @Override
    public boolean equals(Object other) {
        if (!(other instanceof CellView)) return false;
        CellView that = (CellView) other;
        return Objects.equals(lib, that.lib) && Objects.equals(cell, that.cell)
                && Objects.equals(view, that.view);
    }

    @Override
    public int hashCode() {
        // Asked for every instance the walk binds: no array, as Objects.hash would make.
        return (Objects.hashCode(lib) * 31 + Objects.hashCode(cell)) * 31 + Objects.hashCode(view);
    }

    /** lib/cell/view, a missing name shown as "-". */
    @Override
    public String toString() {
        return part(lib) + "/" + part(cell) + "/" + part(view);
    }

    private static String part(String name) {
        return name == null ? "-" : name;
    }
}
