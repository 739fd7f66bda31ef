package COM.morvent.zel.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import COM.morvent.zel.ZelConfig;
import COM.morvent.zel.ZelPathVector;
import COM.morvent.zel.ZelWarningListener;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.function.BiFunction;
import java.util.function.Function;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * Listeners that call the bridge back while the call that warned runs. Each kind of native,
 * called from the listener of open, save, saveAs and bind, answers its neutral result and
 * changes nothing the outer call or a Java program sees: the outer call answers, warns (every
 * warning, in order, to its own listener) and leaves its objects as with a listener that only
 * records. In a process of its own: a bridge that lets the nested call through frees what the
 * outer call uses.
 */
class FreshProcessCallbackTest {
    private static String saved;

    /** A configuration whose every bind warns twice, stored read-only for each case to open. */
    @BeforeAll
    static void prepare() {
        ZelConfig config = Fixture.fresh("callback");
        saved = config.getCellName();
        assertTrue(config.setTopCellViewName("design", "chip", "schematic"));
        assertTrue(config.setDefaultViewListString("$(NOPE) schematic"));
        assertTrue(config.save(null));
        assertTrue(config.close());
    }

    /**
     * One case's objects: the configuration opened read-only with an unsaved edit (so save
     * warns), a path vector at CORE below the top, an unopened configuration, and the listener
     * that nested calls pass.
     */
    static final class Scene {
        final ZelConfig config = Fixture.open(Fixture.SCRATCH, saved, "config", "r");
        final ZelPathVector pv = ZelPathVector.create(config);
        final ZelConfig unopened = new ZelConfig();
        final Fixture.Recorder inner = new Fixture.Recorder();
        final int id = config.id;
        final int handle = pv.pathvector;
        ZelConfig openedInside;

        Scene() {
            assertTrue(config.setDefaultStopListString("symbol"));
            assertTrue(pv.pushCell("design", "chip", "schematic", null));
            assertTrue(pv.pushCell("design", "core", "schematic", "CORE"));
        }

        /** What a Java program sees of the scene, handles aside. */
        String state() {
            int another = config.createNPathVector();
            new ZelPathVector(another).destroy();
            return String.join(" | ", Arrays.asList(
                "handles kept " + (config.id == id) + " " + (pv.pathvector == handle), "unopened " + unopened.id,
                "path vector made " + (another != 0),
                config.getTopCellName(), config.getDefaultViewListString(), config.getDefaultStopListString(),
                "modified " + config.isModified(), config.getCellName(),
                "level " + pv.getContextVectorIndex() + " " + pv.getContextCellName(),
                pv.getCurrentLibBinding(), pv.getCurrentViewBinding(), "unbound " + pv.isUnbound(),
                pv.getCurrentViewList(), pv.getCurrentLibList()));
        }

        /** Whether the configuration was still open to be closed. */
        boolean close() {
            pv.destroy();
            if (openedInside != null && openedInside.id != 0) openedInside.close();
            return config.close();
        }
    }

    private static final class Outer {
        final String name;
        final BiFunction<Scene, ZelWarningListener, Object> call;

        Outer(String name, BiFunction<Scene, ZelWarningListener, Object> call) {
            this.name = name;
            this.call = call;
        }
    }

    private static final class Nested {
        final String name;
        final Function<Scene, Object> call;
        final Object neutral;

        Nested(String name, Function<Scene, Object> call, Object neutral) {
            this.name = name;
            this.call = call;
            this.neutral = neutral;
        }
    }

    private static final List<Outer> OUTER = List.of(
        new Outer("open of a missing configuration", (s, l) -> s.unopened.open("design", "chip", "nothing", "r", l)),
        new Outer("save of a read-only configuration", (s, l) -> s.config.save(l)),
        new Outer("saveAs to an undefined library", (s, l) -> s.config.saveAs("nolib", "x", "config", l)),
        new Outer("bind with a list that does not expand", (s, l) -> {
            s.pv.bind("ALU0", "design", "alu", "symbol", true, true, false, l);
            return s.pv.isUnbound();
        }));

    private static final String VOID = "void";
    // Each would answer otherwise if it ran: the neutral answer shows it did not.
    private static final List<Nested> NESTED = List.of(
        new Nested("close", s -> s.config.close(), false),
        new Nested("destroy", s -> {
            s.pv.destroy();
            return s.pv.pathvector;
        }, null),  // the handle field kept: compared with the scene's below
        new Nested("setDefaultViewListString", s -> s.config.setDefaultViewListString("symbol"), false),
        new Nested("bind", s -> {
            s.pv.bind("ALU1", "design", "alu", "symbol", true, true, false, s.inner);
            return VOID;
        }, VOID),
        new Nested("pushCell", s -> s.pv.pushCell("design", "alu", "schematic", "ALU0"), false),
        new Nested("popCell", s -> s.pv.popCell(), false),
        new Nested("save", s -> s.config.save(s.inner), false),
        new Nested("open of another configuration", s -> {
            s.openedInside = new ZelConfig();
            return s.openedInside.open("design", "chip", "config", "r", s.inner) + " " + s.openedInside.id;
        }, "false 0"),
        new Nested("getTopCellName", s -> s.config.getTopCellName(), null),
        new Nested("createNPathVector", s -> s.config.createNPathVector(), 0));

    @Test
    void nestedCallsAnswerNeutralAndTheOuterCallIsUndisturbed() {
        List<String> wrong = new ArrayList<>();
        for (Outer outer : OUTER) {
            Scene plain = new Scene();
            Fixture.Recorder heard = new Fixture.Recorder();
            Object answer = outer.call.apply(plain, heard);
            String state = plain.state();
            assertTrue(plain.close());
            assertFalse(heard.warnings.isEmpty(), outer.name + " warns");

            for (Nested nested : NESTED) {
                String what = nested.name + " during " + outer.name;
                Scene scene = new Scene();
                Object neutral = nested.name.equals("destroy") ? scene.handle : nested.neutral;
                List<String> warnings = new ArrayList<>();
                List<Object> answers = new ArrayList<>();
                Object outerAnswer = outer.call.apply(scene, text -> {
                    warnings.add(text);
                    answers.add(nested.call.apply(scene));
                });
                check(wrong, what, "outer answer", answer, outerAnswer);
                check(wrong, what, "outer warnings", heard.warnings, warnings);
                check(wrong, what, "nested answers", Collections.nCopies(warnings.size(), neutral), answers);
                check(wrong, what, "nested listener", List.of(), scene.inner.warnings);
                check(wrong, what, "state after", state, scene.state());
                check(wrong, what, "closed at the end", true, scene.close());
            }
        }
        assertEquals(List.of(), wrong);
    }

    private static void check(List<String> wrong, String what, String which, Object expected, Object actual) {
        if (!expected.equals(actual)) wrong.add(what + ": " + which + " " + actual + ", expected " + expected);
    }
}
