package COM.morvent.zel.walk;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import COM.morvent.zel.tests.Fixture;
import java.io.ByteArrayOutputStream;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/** The command line of the walk: options, its errors, and what it prints around the walk. */
class WalkCommandTest {
    static Path libs;

    @BeforeAll
    static void setUp() {
        libs = Fixture.init();
    }

    static final class Result {
        final int status;
        final String out;
        final String err;

        Result(int status, String out, String err) {
            this.status = status;
            this.out = out;
            this.err = err;
        }

        List<String> errLines() {
            return err.lines().toList();
        }
    }

    static Result run(String... args) {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        ByteArrayOutputStream err = new ByteArrayOutputStream();
        int status = Walk.run(args, new PrintStream(out, true, StandardCharsets.UTF_8),
                              new PrintStream(err, true, StandardCharsets.UTF_8), null, Fixture.root().toString());
        return new Result(status, out.toString(StandardCharsets.UTF_8), err.toString(StandardCharsets.UTF_8));
    }

    @Test
    void wrongCommandLinesGiveOneLineAndStatus2() {
        String[][] cases = {
            {"unknown option '--bogus'; run with --help", "--bogus"},
            {"unknown option '-x'", "-x"},
            {"unexpected argument 'design/chip/config'; give the configuration as --config", "design/chip/config"},
            {"--depth needs N", "--depth"},
            {"--depth takes a number of levels, 0 or more, not '-1'", "--depth", "-1"},
            {"--depth takes a number of levels, 0 or more, not 'x'", "--depth=x"},
            {"--config needs LIB/CELL/VIEW", "--json", "--config"},
            {"--config takes LIB/CELL/VIEW, for example design/chip/config, not 'a/b'", "--config", "a/b"},
            {"--config takes LIB/CELL/VIEW", "--config=a//c"},
            {"--config takes LIB/CELL/VIEW", "--config", "a/b/c/d"},
            {"--json and --dot cannot be combined; choose one form of output", "--json", "--dot"},
            {"--brief and --diff cannot be combined", "--brief", "--diff", "a/b/c"},
            {"--diff needs LIB/CELL/VIEW", "--diff"},
            {"--diff takes LIB/CELL/VIEW, for example design/chip/config, not 'a/b'", "--diff=a/b"},
        };
        for (String[] c : cases) {
            Result r = run(java.util.Arrays.copyOfRange(c, 1, c.length));
            assertEquals(2, r.status, String.join(" ", c));
            assertEquals("", r.out);
            assertEquals(1, r.errLines().size(), r.err);
            assertTrue(r.err.startsWith("zel-walk: " + c[0]), r.err);
        }
    }

    @Test
    void failuresGiveOneLineThatSaysWhatToDoAndStatus1() {
        Result missing = run("--libs", Fixture.root().resolve("none.lib").toString());
        assertEquals(1, missing.status);
        assertEquals(List.of("zel-walk: library definitions file '" + Fixture.root().resolve("none.lib")
                             + "' not found; give an existing file with --libs FILE"), missing.errLines());

        Result noConfig = run("--libs", libs.toString(), "--config", "design/chip/nothing");
        assertEquals(1, noConfig.status);
        assertEquals("", noConfig.out);
        List<String> lines = noConfig.errLines();
        assertEquals(2, lines.size(), noConfig.err);
        assertTrue(lines.get(0).startsWith("zel-walk: warning: no configuration"), lines.get(0));
        assertEquals("zel-walk: configuration design/chip/nothing does not open (see the warning above); check "
                     + "--config LIB/CELL/VIEW and --libs FILE", lines.get(1));

        // Without --libs: kwo.lib is looked for; the tests' $HOME (the temporary tree) holds one.
        Result searched = run("--config", "design/chip/sim_config", "--depth", "0");
        assertEquals(0, searched.status, searched.err);
    }

    @Test
    void definitionsFileWithoutLibs() throws Exception {
        Path empty = Files.createDirectories(Fixture.root().resolve("emptyhome"));
        String[] args = {"--config", "design/chip/sim_config", "--depth", "0"};
        ByteArrayOutputStream err = new ByteArrayOutputStream();
        PrintStream errStream = new PrintStream(err, true, StandardCharsets.UTF_8);
        PrintStream out = new PrintStream(new ByteArrayOutputStream(), true, StandardCharsets.UTF_8);
        if (!Files.exists(Path.of("kwo.lib"))) {
            assertEquals(1, Walk.run(args, out, errStream, null, empty.toString()));
            assertEquals("zel-walk: no library definitions file: none given and no kwo.lib in $ZEL_SETUP_PATH, the current "
                         + "directory or $HOME; give one with --libs FILE\n", err.toString(StandardCharsets.UTF_8));
        }
        // With the examples known (scripts/walk.sh tells the tool), their definitions are the last resort.
        System.setProperty(Walk.EXAMPLES_PROPERTY, Fixture.examples().toString());
        try {
            assertEquals(Fixture.examples().resolve("kwo.lib"),
                         Walk.definitionsFile(Walk.parse(args), null, empty.toString()));
            assertEquals(Fixture.examples().resolve("kwo.lib"), Walk.definitionsFile(Walk.parse(new String[0]), null,
                                                                                    Fixture.root().toString()),
                         "without --config: the example's, before any kwo.lib found");
            if (!Files.exists(Path.of("kwo.lib"))) {
                assertEquals(Fixture.root().resolve("kwo.lib"),
                             Walk.definitionsFile(Walk.parse(args), null, Fixture.root().toString()),
                             "with --config: kwo.lib found first");
            }
        } finally {
            System.clearProperty(Walk.EXAMPLES_PROPERTY);
        }
    }

    @Test
    void helpNamesEveryOption() {
        Result r = run("--json", "--help");
        assertEquals(0, r.status);
        assertEquals("", r.err);
        for (String option : new String[] {"--config LIB/CELL/VIEW", "--libs FILE", "--depth N", "--json", "--help",
                                           "--brief", "--full", "--jsonl", "--summary", "--dot", "--diff LIB/CELL/VIEW",
                                           "--progress", "--no-progress", "instances.zel", "scripts/walk.sh"}) {
            assertTrue(r.out.contains(option), option);
        }
    }

    @Test
    void depthZeroShowsTheTopAlone() throws Exception {
        Result r = run("--libs", libs.toString(), "--config", "design/chip/config", "--depth", "0");
        assertEquals(0, r.status, r.err);
        assertEquals(List.of(
            "Configuration design/chip/config, revision 1",
            "Note: Gate-level walk of the example chip.",
            "      ALU1 is a copy of ALU0 and is not walked; FA0 of ALU0 is signed off.",
            "Top: design/chip/schematic",
            "not walked: depth limit"), r.out.lines().toList());
        Result json = run("--libs", libs.toString(), "--config=design/chip/sim_config", "--depth=0", "--json");
        assertEquals(String.join("\n",
            "{",
            "  \"schemaVersion\": 1,",
            "  \"configuration\": {\"lib\": \"design\", \"cell\": \"chip\", \"view\": \"sim_config\"},",
            "  \"revision\": 1,",
            "  \"note\": \"Mixed-level simulation: ALU0 at transistor level, the rest behavioral.\",",
            "  \"top\": {\"lib\": \"design\", \"cell\": \"chip\", \"view\": \"schematic\"},",
            "  \"stop\": [], \"end\": \"depth-limit\",",
            "  \"instances\": []",
            "}",
            ""), json.out);
        assertTrue(Files.isRegularFile(libs));
    }

    /** A configuration in the scratch library with the given top cell view; gives its --config. */
    static String configWithTop(String lib, String cell, String view) {
        COM.morvent.zel.ZelConfig config = Fixture.fresh("walktop");
        if (cell != null) assertTrue(config.setTopCellViewName(lib, cell, view));
        assertTrue(config.save(null));
        String name = config.getLibName() + "/" + config.getCellName() + "/" + config.getViewName();
        assertTrue(config.close());
        return name;
    }

    @Test
    void topCellsThatCannotBeWalked() throws Exception {
        Result noTop = run("--libs", libs.toString(), "--config", configWithTop(null, null, null));
        assertEquals(1, noTop.status);
        assertEquals(List.of("zel-walk: the configuration names no top cell; set one with 'top LIB CELL VIEW' in its file"),
                     noTop.errLines());

        Result missing = run("--libs", libs.toString(), "--config", configWithTop("design", "chip", "layout"));
        assertEquals(0, missing.status, missing.err);
        assertEquals(List.of("Top: design/chip/layout", "not walked: not in the design"),
                     missing.out.lines().skip(1).toList());

        Path bad = Fixture.root().resolve(Fixture.SCRATCH).resolve("badtop/schematic/" + DesignFile.FILE_NAME);
        Fixture.write(bad, "zel-instances 1\ninst A design alu\n");
        Result broken = run("--libs", libs.toString(), "--config", configWithTop(Fixture.SCRATCH, "badtop", "schematic"));
        assertEquals(0, broken.status, broken.err);
        assertEquals(List.of("zel-walk: warning: " + bad + ":2:18: inst takes four words, not 3; write inst NAME LIB CELL VIEW"),
                     broken.errLines());
        assertEquals(List.of("Top: scratch/badtop/schematic", "not walked: design file error"),
                     broken.out.lines().skip(1).toList());

        Fixture.write(bad, "zel-instances 1\n");
        Result leaf = run("--libs", libs.toString(), "--config", configWithTop(Fixture.SCRATCH, "badtop", "schematic"));
        assertEquals(List.of("Top: scratch/badtop/schematic"), leaf.out.lines().skip(1).toList(), "nothing below");
    }

    @Test
    void recursiveDesignsAndNamesOutsideAscii() throws Exception {
        Path lib = Fixture.root().resolve(Fixture.SCRATCH);
        // A cell that holds itself, through an instance named outside ASCII (and the BMP).
        Fixture.write(lib.resolve("loop/schematic/" + DesignFile.FILE_NAME),
                      "zel-instances 1\ninst \"Ü\\u{1F600}\" scratch loop symbol\ninst LEAF scratch leaf symbol\n");
        Fixture.write(lib.resolve("loop/symbol/" + DesignFile.FILE_NAME), "zel-instances 1\n");
        Files.createDirectories(lib.resolve("leaf/symbol"));
        COM.morvent.zel.ZelConfig config = Fixture.fresh("loopconfig");
        assertTrue(config.setTopCellViewName(Fixture.SCRATCH, "loop", "schematic"));
        assertTrue(config.setDefaultViewListString("schematic symbol"));
        assertTrue(config.setDefaultLibListString(Fixture.SCRATCH));
        assertTrue(config.save(null));
        String name = config.getLibName() + "/" + config.getCellName() + "/" + config.getViewName();
        assertTrue(config.close());

        Result r = run("--libs", libs.toString(), "--config", name, "--full");
        assertEquals(0, r.status, r.err);
        assertEquals(List.of(
            "Top: scratch/loop/schematic",
            "+- Ü\uD83D\uDE00: scratch/loop/symbol -> scratch/loop/schematic",
            "|     view: view list; libs: scratch (default); views: schematic symbol (default)",
            "|     not walked: recursive",
            "`- LEAF: scratch/leaf/symbol -> scratch/leaf/symbol",
            "      view: view list; libs: scratch (default); views: schematic symbol (default)"),
            r.out.lines().skip(1).toList());
        Result json = run("--libs", libs.toString(), "--config", name, "--json");
        assertTrue(json.out.contains("\"name\": \"Ü\uD83D\uDE00\""), json.out);
        assertTrue(json.out.contains("\"end\": \"recursive\""), json.out);
    }

    @Test
    void diffStatusAndProgress() {
        Result same = run("--libs", libs.toString(), "--config", "design/chip/sim_config", "--diff", "design/chip/sim_config");
        assertEquals(0, same.status, same.err);
        assertTrue(same.out.matches("(?s)Comparing .*\nSame: [1-9][0-9]* instances walked alike\n"), same.out);
        Result broken = run("--libs", libs.toString(), "--diff", "design/chip/nothing");
        assertEquals(2, broken.status, "trouble is 2 for --diff: 1 says they differ");
        assertTrue(broken.err.endsWith("check --diff LIB/CELL/VIEW and --libs FILE\n"), broken.err);

        Result shown = run("--libs", libs.toString(), "--summary", "--progress");
        assertEquals(0, shown.status, shown.err);
        assertTrue(shown.err.matches("zel-walk: [1-9][0-9]* instances in [0-9.]+ s, [0-9,]+ a second, 6 levels deep\n"),
                   shown.err);
    }

    @Test
    void jsonStringsStayValid() {
        assertEquals("null", JsonPrinter.string(null));
        assertEquals("\"a\\\"b\\\\c\\n\\t\\r\\u0001\\u2028\"", JsonPrinter.string("a\"b\\c\n\t\r\u0001\u2028"));
        assertEquals("\"\uD83D\uDE00 ü\"", JsonPrinter.string("\uD83D\uDE00 ü"), "a pair stays as it is");
        assertEquals("\"\\ud83d x \\ude00\"", JsonPrinter.string("\uD83D x \uDE00"), "lone surrogates escaped");
    }

    @Test
    void stopNamesDecodeEveryBit() {
        assertEquals(List.of(), Labels.stopNames(0));
        assertEquals(List.of("default stop list", "library rule", "cell rule", "instance rule", "occurrence rule"),
                     Labels.stopNames(0x1F));
        assertEquals(List.of("cell rule", "unknown bits 0x40"), Labels.stopNames(0x48));
    }
}
