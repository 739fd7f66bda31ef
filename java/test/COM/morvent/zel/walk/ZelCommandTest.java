package COM.morvent.zel.walk;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import COM.morvent.zel.ZelConfig;
import COM.morvent.zel.tests.Fixture;
import java.io.ByteArrayOutputStream;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import org.junit.jupiter.api.Test;

/** The zel command: its dispatch and exit statuses, show's order, and scripted edits. */
class ZelCommandTest {
    static final class Result {
        final int status;
        final String out;
        final String err;

        Result(int status, String out, String err) {
            this.status = status;
            this.out = out;
            this.err = err;
        }

        @Override
        public String toString() {
            return "status " + status + "\n" + out + err;
        }
    }

    static Result zel(String... args) {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        ByteArrayOutputStream err = new ByteArrayOutputStream();
        int status = Zel.run(args, new Zel.Io(out, new PrintStream(err, true, StandardCharsets.UTF_8), null,
                                              Fixture.root().toString(), false));
        return new Result(status, out.toString(StandardCharsets.UTF_8), err.toString(StandardCharsets.UTF_8));
    }

    /** A copy of the example's configuration in the scratch library; its LIB/CELL/VIEW. */
    static String copyOfExample(String text) throws Exception {
        String cell = Fixture.uniqueCell("zel");
        String base = text != null ? text
                      : Files.readString(Fixture.examples().resolve("libs/design/chip/config/config.zel"));
        Fixture.write(file(cell), base);
        return Fixture.SCRATCH + "/" + cell + "/config";
    }

    static Path file(String cellOrName) {
        String cell = cellOrName.contains("/") ? cellOrName.split("/")[1] : cellOrName;
        return Fixture.root().resolve(Fixture.SCRATCH).resolve(cell).resolve("config/config.zel");
    }

    /**
     * One exit status per kind of outcome, whichever command meets it (the table in
     * docs/zel.md), and every message in zel's words: configurations as LIB/CELL/VIEW, no
     * option the user did not type, no open mode.
     */
    @Test
    void oneStatusPerOutcomeAcrossTheCommands() throws Exception {
        String libs = Fixture.init().toString();
        String planted = copyOfExample(Files.readString(Fixture.examples().resolve("libs/design/chip/config/config.zel"))
                                       + Files.readString(Fixture.examples().resolve("../tests/zel/planted/no_such_path.zel")));
        String none = "design/chip/confg";
        Object[][] cases = {
            {Zel.USAGE, new String[] {}, "Usage: zel COMMAND"},
            {Zel.USAGE, new String[] {"frobnicate"}, "zel: unknown command 'frobnicate'"},
            {Zel.DONE, new String[] {"help", "lint"}, "Exit status: 0 done; 1 found"},
            {Zel.USAGE, new String[] {"help", "nothing"}, "zel help: no command 'nothing'"},
            {Zel.USAGE, new String[] {"walk", "nosuchform", "design/chip/config"}, "'nosuchform' is no FORM"},
            {Zel.USAGE, new String[] {"walk", "design/chip"}, "give the configuration as LIB/CELL/VIEW"},
            {Zel.USAGE, new String[] {"walk", "--depth", "x"}, "--depth takes a number"},
            {Zel.USAGE, new String[] {"diff", "design/chip/config"}, "give two configurations"},
            {Zel.USAGE, new String[] {"show"}, "zel show: give the configuration"},
            {Zel.USAGE, new String[] {"show", planted, "--depth", "2"}, "unknown option '--depth'"},
            {Zel.USAGE, new String[] {"lint", planted, "--ignore", "everything", "--libs", libs}, "--ignore takes"},
            {Zel.USAGE, new String[] {"get", planted, "constant"}, "zel help get"},
            {Zel.USAGE, new String[] {"set", planted, "cell", "stdcells", "inv", "colour", "red", "--libs", libs}, "'colour' is no property"},
            {Zel.USAGE, new String[] {"set", planted, "cell", "stdcells", "inv", "views", "a", "b", "--libs", libs}, "takes one VALUE"},
            {Zel.USAGE, new String[] {"unset", planted, "top", "--libs", libs}, "the top cell cannot be unset"},
            {Zel.USAGE, new String[] {"edit", "--port", "x"}, ""},
            {Zel.UNREADABLE, new String[] {"walk", none, "--libs", libs}, "configuration " + none + " does not open"},
            {Zel.UNREADABLE, new String[] {"diff", "design/chip/config", none, "--libs", libs}, "configuration " + none + " does not open"},
            {Zel.UNREADABLE, new String[] {"show", none, "--libs", libs}, "configuration " + none + " does not open"},
            {Zel.UNREADABLE, new String[] {"lint", none, "--libs", libs}, "configuration " + none + " does not open"},
            {Zel.UNREADABLE, new String[] {"get", none, "top", "--libs", libs}, "configuration " + none + " does not open"},
            {Zel.UNREADABLE, new String[] {"set", none, "default-views", "x", "--libs", libs}, "configuration " + none + " does not open"},
            {Zel.UNREADABLE, new String[] {"unset", none, "note", "--libs", libs}, "configuration " + none + " does not open"},
            {Zel.UNREADABLE, new String[] {"edit", none, "--libs", libs}, ""},
            {Zel.UNREADABLE, new String[] {"show", planted, "--libs", "/nonexistent/kwo.lib"}, "not found"},
            {Zel.FOUND, new String[] {"lint", planted, "--libs", libs}, "never-applied: occurrence CORE ALU0 XX: stop"},
            {Zel.DONE, new String[] {"lint", planted, "--ignore", "never-applied", "--libs", libs}, ": 0 findings, 1 note"},
            {Zel.FOUND, new String[] {"lint", planted, "--json", "--libs", libs}, "\"found\":1,\"notes\":1,"},
            {Zel.FOUND, new String[] {"get", planted, "constant", "NONE", "--libs", libs}, "constant NONE is not set"},
            {Zel.FOUND, new String[] {"diff", "design/chip/config", "design/chip/alt_config", "--libs", libs}, "CORE/ALU1"},
            {Zel.DONE, new String[] {"walk", "summary", planted, "--libs", libs}, "Configuration " + planted + ", revision 1"},
            {Zel.DONE, new String[] {"diff", "design/chip/config", planted, "--libs", libs}, ""},
            {Zel.UNCHANGED, new String[] {"set", planted, "occurrence", "CORE", "ALU7", "stop", "--libs", libs}, "no such path"},
            {Zel.UNCHANGED, new String[] {"set", planted, "default-views", "nosuchview", "--strict", "--libs", libs}, "nothing saved (--strict)"},
        };
        for (Object[] c : cases) {
            String[] args = (String[]) c[1];
            Result r = zel(args);
            String what = String.join(" ", args) + ": " + r;
            assertEquals(c[0], r.status, what);
            assertTrue((r.out + r.err).contains((String) c[2]), c[2] + " in " + what);
            if (!java.util.Arrays.asList(args).contains("--config")) assertTrue(!r.err.contains("--config"), what);
            assertTrue(!r.err.contains("chip:") && !r.err.contains("mode \""), what);
        }
        Result edit = zel("edit");
        boolean built;
        try {
            Class.forName("COM.morvent.zel.edit.Edit");
            built = true;
        } catch (ClassNotFoundException e) {
            built = false;
        }
        if (!built) assertEquals("zel edit: 'edit' is not in this build of zel\n", edit.err);
    }

    @Test
    void showPrintsTheFilesOrder() throws Exception {
        String libs = Fixture.init().toString();
        // Blocks and properties out of the canonical order, a property given twice.
        String name = copyOfExample("zelvek-config 1\ntop design chip schematic\noccurrence CORE ALU0\n  stop\n"
                                    + "inst design alu * NEG\n  stop\n  view-binding schematic\ncell * inv\n  views x\n"
                                    + "note second\nlibrary b\n  stops y\nlibrary a\n  views z\nconstant C c\n"
                                    + "default-views \"s t\"\ninst design alu * NEG\n  view-binding symbol\n"
                                    + "occurrence CORE\n  stop\nnote third\n");
        Result before = zel("show", name, "--libs", libs);
        ZelConfig config = Fixture.open(Fixture.SCRATCH, name.split("/")[1], "config", "a");
        assertTrue(config.save(null));
        config.close();
        Result after = zel("show", name, "--libs", libs);
        assertEquals(0, before.status, before.toString());
        assertEquals(before.out.replace("revision 0", "revision 1"), after.out);
        // The file's order; a rule written twice where it is written last.
        assertEquals("top design chip schematic\noccurrence CORE ALU0 stop\ninst design alu * NEG stop\n"
                     + "cell * inv views x\nnote second\nlibrary b stops y\nlibrary a views z\nconstant C c\n"
                     + "default-views \"s t\"\ninst design alu * NEG view-binding symbol\noccurrence CORE stop\n"
                     + "note third\n",
                     after.out.substring(after.out.indexOf('\n') + 1));
    }

    @Test
    void setThenGetAndTheWalkShowsIt() throws Exception {
        String libs = Fixture.init().toString();
        String name = copyOfExample(null);
        // KEY and VALUE; what zel get then prints; the line of the walk that shows it.
        Object[][] edits = {
            {new String[] {"inst", "design", "alu", "*", "NEG", "view-binding"}, new String[] {"layout"}, "layout",
             "- NEG: stdcells/inv/symbol -> stdcells/inv/layout  view: instance rule"},
            {new String[] {"occurrence", "CORE", "ALU0", "ADD", "FA1", "G1", "bind"}, new String[] {"altcells", "nand2", "layout"},
             "altcells nand2 layout", "- G1: stdcells/nand2/symbol -> altcells/nand2/layout  view: occurrence rule"},
            {new String[] {"cell", "stdcells", "dff", "stop"}, new String[] {}, "stop",
             "- REG: stdcells/dff/symbol -> stdcells/dff/schematic  stop: cell rule"},
            {new String[] {"default-libs"}, new String[] {"design stdcells devices altcells"}, "design stdcells devices altcells",
             "libs: design stdcells devices altcells (default)"},
        };
        for (Object[] e : edits) {
            String[] key = (String[]) e[0];
            String[] set = concat(new String[] {"set", name}, key, (String[]) e[1], new String[] {"--libs", libs});
            byte[] file = Files.readAllBytes(file(name));
            Result dry = zel(concat(set, new String[] {"--dry-run"}));
            assertEquals(0, dry.status, dry.toString());
            assertTrue(dry.out.startsWith("would change "), dry.out);
            assertTrue(java.util.Arrays.equals(file, Files.readAllBytes(file(name))), "--dry-run saved");
            Result r = zel(set);
            assertEquals(0, r.status, r.toString());
            Result g = zel(concat(new String[] {"get", name}, key, new String[] {"--libs", libs}));
            assertEquals(e[2] + "\n", g.out, g.toString());
            Result walk = zel("walk", name, "--libs", libs);
            assertTrue(walk.out.contains((String) e[3]), e[3] + " in\n" + walk.out);
        }
        // Unset, and a path the design does not have.
        assertEquals(0, zel("unset", name, "cell", "stdcells", "dff", "stop", "--libs", libs).status);
        assertEquals(1, zel("get", name, "cell", "stdcells", "dff", "stop", "--libs", libs).status);
        Result noPath = zel("set", name, "occurrence", "CORE", "ALU7", "stop", "--libs", libs);
        assertEquals(Zel.UNCHANGED, noPath.status);
        assertTrue(noPath.err.contains("no such path: the top cell (design/chip/schematic) has no instance CORE")
                   || noPath.err.contains("has no instance ALU7"), noPath.err);
    }

    @Test
    void aSetLosesToAnotherWriter() throws Exception {
        String libs = Fixture.init().toString();
        String name = copyOfExample(null);
        Settings.beforeSave = () -> {
            ZelConfig other = Fixture.open(Fixture.SCRATCH, name.split("/")[1], "config", "a");
            assertTrue(other.setDefaultStopListString("spice"));
            assertTrue(other.save(null));
            other.close();
        };
        Result r;
        try {
            r = zel("set", name, "default-views", "symbol", "--libs", libs);
        } finally {
            Settings.beforeSave = null;
        }
        assertEquals(Zel.UNCHANGED, r.status, r.toString());
        assertTrue(r.err.contains("was changed by another program"), r.err);
        assertTrue(r.err.endsWith("zel set: not saved (see the warning above); " + name + " is unchanged\n"), r.err);
        assertEquals("spice\n", zel("get", name, "default-stops", "--libs", libs).out);
        assertEquals("schematic symbol\n", zel("get", name, "default-views", "--libs", libs).out);
    }

    @Test
    void everyRuleAsShowNamesItAndWholeBlocks() throws Exception {
        String libs = Fixture.init().toString();
        String name = copyOfExample(null);
        byte[] original = Files.readAllBytes(file(name));
        String[] neg = {"inst", "design", "alu", "*", "NEG"};
        // Library rules and whole blocks, by the words zel show prints.
        assertEquals("$(GATE_VIEW) schematic\n", zel("get", name, "library", "stdcells", "views", "--libs", libs).out);
        Result set = zel(concat(new String[] {"set", name, "library", "stdcells", "views", "symbol"}, new String[] {"--libs", libs}));
        assertEquals(0, set.status, set.toString());
        assertTrue(zel("show", name, "--libs", libs).out.contains("\nlibrary stdcells views symbol\n"));
        assertEquals("inst design alu * NEG view-binding schematic\n", zel(concat(new String[] {"get", name}, neg, new String[] {"--libs", libs})).out);
        Result json = zel(concat(new String[] {"get", name}, neg, new String[] {"--json", "--libs", libs}));
        assertTrue(json.out.contains("\"scope\": [\"design\", \"alu\", null, \"NEG\"], \"property\": \"view-binding\""), json.out);
        assertTrue(zel("show", name, "--json", "--libs", libs).out.contains("\"key\": \"occurrence CORE ALU0 ADD FA0 stop\""));
        Result unset = zel(concat(new String[] {"unset", name}, neg, new String[] {"--libs", libs}));
        assertEquals(0, unset.status, unset.toString());
        String text = Files.readString(file(name));
        assertTrue(!text.contains("NEG") && !text.contains("# NEG, in any view"), "the block and its comment go:\n" + text);
        // Set back: the file as it was but for its revision line; the block made again goes after
        // the last block of its kind that sorts before it, without the comment that went with it.
        zel("set", name, "library", "stdcells", "views", "$(GATE_VIEW) schematic", "--libs", libs);
        zel(concat(new String[] {"set", name}, neg, new String[] {"view-binding", "schematic", "--libs", libs}));
        String block = "inst design alu * NEG\n  view-binding schematic\n";
        String now = Files.readString(file(name)).replaceAll("\nrevision \\d+\n", "\n").replaceAll("\nlocation .*\n", "\n");
        assertTrue(now.contains("cell * inv\n  view-binding behavioral\n" + block), now);
        assertEquals(new String(original, StandardCharsets.UTF_8).replaceAll("\nrevision \\d+\n", "\n")
                         .replaceAll("\nlocation .*\n", "\n").replace("# NEG, in any view of the ALU, goes down to its transistors.\n" + block, ""),
                     now.replace(block, ""));
    }

    @Test
    void setWarnsOfNamesNeitherTheDesignNorTheDefinitionsKnow() throws Exception {
        String libs = Fixture.init().toString();
        String name = copyOfExample(null);
        byte[] before = Files.readAllBytes(file(name));
        String[][] cases = {
            {"inst", "design", "alu", "*", "NEGG", "view-binding", "layuot"},
            {"cell", "nolib", "nand2", "stop"},
        };
        String[] said = {"no instance NEGG in design/alu/*; close: NEG", "no cell view on disk is named layuot; close: layout",
                         "library nolib is not defined in "};
        for (String[] c : cases) {
            Result dry = zel(concat(new String[] {"set", name}, c, new String[] {"--dry-run", "--libs", libs}));
            assertEquals(0, dry.status, dry.toString());
            Result strict = zel(concat(new String[] {"set", name}, c, new String[] {"--strict", "--libs", libs}));
            assertEquals(Zel.UNCHANGED, strict.status, strict.toString());
            assertTrue(strict.err.contains("nothing saved (--strict)"), strict.err);
        }
        String err = zel(concat(new String[] {"set", name}, cases[0], new String[] {"--dry-run", "--libs", libs})).err
                     + zel(concat(new String[] {"set", name}, cases[1], new String[] {"--dry-run", "--libs", libs})).err;
        for (String s : said) assertTrue(err.contains("zel set: warning: " + s), err);
        Result known = zel("set", name, "inst", "design", "alu", "*", "NEG", "view-binding", "layout", "--strict", "--dry-run",
                           "--libs", libs);
        assertEquals("", known.err);
        assertTrue(java.util.Arrays.equals(before, Files.readAllBytes(file(name))), "nothing saved");
    }

    static String[] concat(String[]... parts) {
        return java.util.Arrays.stream(parts).flatMap(java.util.Arrays::stream).toArray(String[]::new);
    }
}
