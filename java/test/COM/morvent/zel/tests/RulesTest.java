package COM.morvent.zel.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import COM.morvent.zel.ZelConfig;
import COM.morvent.zel.ZelRules;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import org.junit.jupiter.api.Test;

/** ZelRules through the bridge: names as the file writes them, and the rules of the door. */
class RulesTest {
    private static Path file(String cell) {
        return Fixture.root().resolve(Fixture.SCRATCH).resolve(cell).resolve("config/config.zel");
    }

    @Test
    void namesCommentsAndEveryCharacterComeThrough() throws Exception {
        Fixture.init();
        String cell = Fixture.uniqueCell("rules");
        String odd = "a \"b\" \\ \uD83D\uDE00 \u0000-*#";
        Fixture.write(file(cell), "zelvek-config 1\n# the library\nlibrary stdcells  # its views\n  views \"s l\"\n");
        ZelConfig config = Fixture.open(Fixture.SCRATCH, cell, "config", "a");
        try {
            List<ZelRules.Rule> rules = ZelRules.list(config);
            assertEquals(1, rules.size());
            ZelRules.Rule r = rules.get(0);
            assertEquals("library stdcells views \"s l\"", r.toString());
            assertEquals("# the library\n# its views", r.comment());
            assertEquals(4, r.line());
            List<String> scope = Arrays.asList(null, odd, "v", odd);
            assertTrue(ZelRules.set(config, "inst", scope, "views", Arrays.asList(odd), null));
            ZelRules.Rule made = ZelRules.list(config).get(1);
            assertEquals(scope, made.scope());
            assertEquals(Arrays.asList(odd), made.values());
            assertEquals(0, made.line());
            assertTrue(config.save(null));
            assertTrue(new String(Files.readAllBytes(file(cell)), StandardCharsets.UTF_8)
                           .contains("\n# the library\nlibrary stdcells  # its views\n  views \"s l\"\n"));
            assertTrue(ZelRules.remove(config, made, null));
            assertFalse(ZelRules.remove(config, made, null), "nothing left to remove");
        } finally {
            config.close();
        }
        assertTrue(ZelRules.list(config).isEmpty(), "a closed configuration lists nothing");
        assertFalse(ZelRules.set(config, "top", new ArrayList<String>(), null, Arrays.asList("a", "b", "c"), null));
    }

    @Test
    void insideAListenerTheAnswersAreNeutral() throws Exception {
        Fixture.init();
        ZelConfig config = Fixture.open("design", "chip", "config", "r");
        List<Object> inside = new ArrayList<>();
        List<String> said = new ArrayList<>();
        try {
            assertFalse(ZelRules.set(config, "cel", Arrays.asList("a", "b"), "stop", new ArrayList<String>(), warning -> {
                said.add(warning);
                inside.add(ZelRules.list(config).size());
                inside.add(ZelRules.set(config, "top", new ArrayList<String>(), null, Arrays.asList("a", "b", "c"), null));
            }));
            assertEquals(Arrays.asList(0, false), inside);
            assertTrue(said.get(0).contains("unknown kind of rule"), said.toString());
            assertFalse(config.isModified(), "nothing changed");
            assertTrue(ZelRules.list(config).size() > 10);
        } finally {
            config.close();
        }
        assertTrue(ZelRules.libraries().stream().anyMatch(l -> l.name().equals("design")));
    }
}
