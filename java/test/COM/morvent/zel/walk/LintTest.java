package COM.morvent.zel.walk;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import COM.morvent.zel.ZelConfig;
import COM.morvent.zel.tests.Fixture;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Set;
import java.util.TreeSet;
import java.util.stream.Collectors;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;

/**
 * The lint on the example's configuration with the rules of each file of tests/zel/planted
 * added: it finds exactly what the file's '# expect:' lines say, for the reason its '# why:'
 * lines give, and on the clean example only the open binding it keeps on purpose.
 */
class LintTest {
    static final String OPEN_PAD = "open-binding: inst design chip schematic PAD0: bind \"\" \"\" \"\"";

    /** The example's configuration plus {@code planted}, saved as a scratch configuration; its findings. */
    static List<Finding> lint(String planted) throws Exception {
        Path libs = Fixture.init();
        String base = Files.readString(Fixture.examples().resolve("libs/design/chip/config/config.zel"));
        String cell = Fixture.uniqueCell("lint");
        Fixture.write(Fixture.root().resolve(Fixture.SCRATCH).resolve(cell).resolve("config/config.zel"), base + planted);
        ZelConfig config = Fixture.open(Fixture.SCRATCH, cell, "config", "r");
        try {
            Fixture.Recorder warnings = new Fixture.Recorder();
            List<Finding> findings = Lint.run(config, libs, warnings);
            assertEquals(List.of(), warnings.warnings);
            return findings;
        } finally {
            config.close();
        }
    }

    static Set<String> named(List<Finding> findings) {
        return findings.stream().map(f -> f.kind.token + ": " + (f.rule != null ? f.rule : f.where))
                       .collect(Collectors.toCollection(TreeSet::new));
    }

    @Test
    void findsEachPlantedRuleAndNothingElse() throws Exception {
        List<Path> files;
        try (Stream<Path> s = Files.list(Fixture.examples().resolve("../tests/zel/planted"))) {
            files = s.sorted().collect(Collectors.toList());
        }
        assertTrue(files.size() >= 10, "planted files: " + files);
        for (Path file : files) {
            List<String> lines = Files.readAllLines(file, StandardCharsets.UTF_8);
            Set<String> expected = new TreeSet<>(List.of(OPEN_PAD));
            List<String> whys = new ArrayList<>();
            for (String line : lines) {
                if (line.startsWith("# expect: ")) expected.add(line.substring(10));
                if (line.startsWith("# why: ")) whys.add(line.substring(7));
            }
            List<Finding> findings = lint(String.join("\n", lines) + "\n");
            assertEquals(expected, named(findings), file.getFileName().toString());
            for (String why : whys) {
                assertTrue(findings.stream().anyMatch(f -> f.why.startsWith(why)), file.getFileName() + ": " + why
                           + " in " + findings);
            }
            for (Finding f : findings) {
                assertTrue(f.kind == Finding.Kind.UNBOUND || f.line > 0, f.toString());
                assertTrue(!f.fix.isEmpty(), f.toString());
            }
        }
    }

    @Test
    void judgesTheConfigurationAsEdited() throws Exception {
        Path libs = Fixture.init();
        String base = Files.readString(Fixture.examples().resolve("libs/design/chip/config/config.zel"));
        String cell = Fixture.uniqueCell("lint");
        Fixture.write(Fixture.root().resolve(Fixture.SCRATCH).resolve(cell).resolve("config/config.zel"), base);
        ZelConfig config = Fixture.open(Fixture.SCRATCH, cell, "config", "a");
        try {
            assertTrue(COM.morvent.zel.ZelRules.set(config, "inst", java.util.Arrays.asList("design", "core", "schematic", "ALU9"),
                                                    "stop", List.of(), null));
            assertTrue(COM.morvent.zel.ZelRules.remove(config, "inst", List.of("design", "chip", "schematic", "PAD0"), null, null));
            // Unsaved: the new rule is found, the open binding removed is not.
            assertEquals(Set.of("never-applied: inst design core schematic ALU9: stop"),
                         named(Lint.run(config, libs, null)).stream().filter(n -> !n.startsWith("unbound"))
                                                            .collect(Collectors.toSet()));
        } finally {
            config.close();
        }
    }

    @Test
    void theExamplesKeepOnlyTheirOpenBinding() throws Exception {
        assertEquals(Set.of(OPEN_PAD), named(lint("")));
        Path libs = Fixture.init();
        for (String view : new String[] {"sim_config", "alt_config"}) {
            ZelConfig config = Fixture.open("design", "chip", view, "r");
            try {
                assertEquals(Set.of(), named(Lint.run(config, libs, null)), view);
            } finally {
                config.close();
            }
        }
    }

    @Test
    void rulesThatDecideAreNotReported() throws Exception {
        // Each decides somewhere: a cell rule's stop, a library's stop list, an instance's library list.
        assertEquals(Set.of(OPEN_PAD), named(lint("cell devices pmos\n  stop\nlibrary devices\n  stops spice\n"
                                                  + "inst design core schematic REG\n  libs \"stdcells devices\"\n")));
    }
}
