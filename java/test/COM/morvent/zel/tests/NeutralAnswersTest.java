package COM.morvent.zel.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import COM.morvent.zel.ZelConfig;
import COM.morvent.zel.ZelPathVector;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.List;
import java.util.Set;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * Every native on an object that names nothing (never opened, closed, destroyed, or a stale copy
 * of a destroyed path vector's handle) answers false, 0 or null, calls no listener and leaves
 * the handle field as it is. The natives are found by reflection, so a native added to the
 * classes is covered without touching this test.
 */
class NeutralAnswersTest {
    /** The natives that do work on an object naming nothing: init, and the opens (they write id). */
    private static final Set<String> NOT_NEUTRAL = Set.of("init", "open", "openWithType", "openPartial");

    @BeforeAll
    static void setUp() {
        Fixture.init();
    }

    // The cursor readers answer from the process-wide cursor, not from their receiver: the
    // enumerations are started first, on the object under test, which ends any other one.
    static List<Method> natives(Class<?> cls) {
        List<Method> found = new ArrayList<>();
        for (Method m : cls.getDeclaredMethods()) {
            if (Modifier.isNative(m.getModifiers()) && !NOT_NEUTRAL.contains(m.getName())) found.add(m);
        }
        found.sort(Comparator.comparing((Method m) -> !m.getName().startsWith("enumerate")).thenComparing(Method::getName));
        return found;
    }

    @Test
    void classesDeclareTheExpectedNatives() {
        int config = 0;
        int pathVector = 0;
        for (Method m : ZelConfig.class.getDeclaredMethods()) if (Modifier.isNative(m.getModifiers())) ++config;
        for (Method m : ZelPathVector.class.getDeclaredMethods()) if (Modifier.isNative(m.getModifiers())) ++pathVector;
        assertEquals(60, config, "natives of ZelConfig");
        assertEquals(47, pathVector, "natives of ZelPathVector");
    }

    // Arguments that would make a live object do something: real names, a live-looking handle.
    private static Object[] arguments(Method m, int pathVectorHandle, Object listener) {
        Class<?>[] types = m.getParameterTypes();
        Object[] args = new Object[types.length];
        for (int i = 0; i < types.length; ++i) {
            Class<?> t = types[i];
            if (t == String.class) args[i] = i == 0 ? "design" : "chip";
            else if (t == int.class) args[i] = m.getName().startsWith("getIndex") ? 0 : pathVectorHandle;
            else if (t == boolean.class) args[i] = Boolean.TRUE;
            else if (t == Object.class) args[i] = listener;
            else fail("no argument for a " + t + " in " + m);
        }
        return args;
    }

    private static void assertNeutral(Object receiver, Method m, int pathVectorHandle) {
        Fixture.Recorder listener = new Fixture.Recorder();
        List<String> heard = listener.warnings;
        Object result;
        try {
            result = m.invoke(receiver, arguments(m, pathVectorHandle, listener));
        } catch (IllegalAccessException | InvocationTargetException e) {
            throw new AssertionError(m.getName() + " threw", e);
        }
        Class<?> type = m.getReturnType();
        if (type == boolean.class) assertEquals(Boolean.FALSE, result, m.getName());
        else if (type == int.class) assertEquals(0, result, m.getName());
        else if (type == String.class) assertEquals(null, result, m.getName());
        else assertEquals(void.class, type, m.getName());
        assertTrue(heard.isEmpty(), m.getName() + " called the listener: " + heard);
    }

    @Test
    void closedConfigurationKeepsItsHandleAndAnswersNothing() {
        ZelConfig config = Fixture.open("design", "chip", "config", "r");
        ZelPathVector pv = ZelPathVector.create(config);
        assertTrue(pv.pushCell("design", "chip", "schematic", null));
        int deadPathVector = pv.pathvector;
        pv.destroy();
        int handle = config.id;
        assertTrue(config.close());
        assertEquals(handle, config.id, "close leaves the handle in id");
        for (Method m : natives(ZelConfig.class)) assertNeutral(config, m, deadPathVector);
        assertEquals(handle, config.id);
        assertFalse(config.close(), "closing twice");
    }

    @Test
    void neverOpenedConfigurationAnswersNothing() {
        ZelConfig config = new ZelConfig();
        for (Method m : natives(ZelConfig.class)) assertNeutral(config, m, 0);
        assertEquals(0, config.id);
    }

    @Test
    void failedOpenForgetsTheOpenConfiguration() {
        ZelConfig config = Fixture.open("design", "chip", "config", "r");
        int handle = config.id;
        Fixture.Recorder warnings = new Fixture.Recorder();
        assertFalse(config.open("design", "chip", "no_such_config", "r", warnings));
        assertEquals(0, config.id, "a failed open writes 0");
        assertEquals(1, warnings.warnings.size(), warnings.warnings.toString());
        // The configuration opened before is still registered, under its own handle.
        ZelConfig again = new ZelConfig();
        again.id = handle;
        assertEquals("chip", again.getTopCellName());
        assertTrue(again.close());
    }

    @Test
    void destroyedPathVectorAndItsStaleCopyAnswerNothing() {
        ZelConfig config = Fixture.fresh("dead");
        assertTrue(config.setTopCellViewName("design", "chip", "schematic"));
        assertFalse(config.isContainingOccur());
        ZelPathVector pv = ZelPathVector.create(config);
        assertTrue(pv.pushCell("design", "chip", "schematic", null));
        pv.bind("CORE", "design", "core", "symbol", true, true, false, null);
        pv.isAtStop();  // the slot now holds a stop array too
        int handle = pv.pathvector;
        ZelPathVector stale = new ZelPathVector(handle);
        pv.destroy();
        assertEquals(0, pv.pathvector, "destroy writes 0");
        for (Method m : natives(ZelPathVector.class)) {
            assertNeutral(pv, m, 0);
            assertNeutral(stale, m, handle);
        }
        assertEquals(handle, stale.pathvector, "a stale handle is not written");
        // The occurrence natives of ZelConfig take the handle as an argument.
        assertFalse(config.setOccurBinding(handle, "design", "core", "schematic", "CORE"));
        assertFalse(config.setOccurStopPointValue(handle, "CORE", null, null, null, true));
        assertFalse(config.deleteOccurBinding(handle, "CORE"));
        assertFalse(config.isContainingOccur(), "no occurrence was made through the dead handle");
        assertTrue(config.close());
    }

    @Test
    void handlesAreNeverReused() {
        ZelConfig first = Fixture.open("design", "chip", "config", "r");
        ZelPathVector pv = ZelPathVector.create(first);
        int configHandle = first.id;
        int pathVectorHandle = pv.pathvector;
        pv.destroy();
        assertTrue(first.close());
        ZelConfig second = Fixture.open("design", "chip", "config", "r");
        ZelPathVector pv2 = ZelPathVector.create(second);
        assertTrue(second.id > configHandle, "a new configuration handle is larger");
        assertTrue(pv2.pathvector > pathVectorHandle, "a new path-vector handle is larger");
        int copy = pv2.copy_n();
        assertEquals(pv2.pathvector + 1, copy, "consecutive path-vector handles");
        ZelConfig third = Fixture.open("design", "chip", "config", "r");
        assertEquals(second.id + 1, third.id, "consecutive configuration handles");
        assertNotEquals(0, copy);
        new ZelPathVector(copy).destroy();
        pv2.destroy();
        assertTrue(second.close());
        assertTrue(third.close());
    }
}
