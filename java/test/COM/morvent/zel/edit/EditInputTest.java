package COM.morvent.zel.edit;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;

import COM.morvent.zel.walk.CellView;
import java.util.Map;
import org.junit.jupiter.api.Test;

/** What the editor's server takes from a request, and what it writes back into the page. */
class EditInputTest {
    @Test
    void namesThatCouldReachOutsideALibraryAreRefused() throws Exception {
        for (String bad : new String[] {"", " ", ".", "..", "a/b", "a\\b", "a b", "a\u0000", "a\nb", null}) {
            assertThrows(Session.Refused.class, () -> Session.word(bad, "a view"), String.valueOf(bad));
        }
        assertEquals("symbol", Session.word(" symbol ", "a view"));
        assertEquals(new CellView("design", "chip", "edited"), Session.cellView("design/chip/edited", "save as"));
        for (String bad : new String[] {"design/chip", "design/chip/a/b", "../chip/config", "design//config", null}) {
            assertThrows(Session.Refused.class, () -> Session.cellView(bad, "save as"), String.valueOf(bad));
        }
    }

    @Test
    void jsonEscapesWhatCouldEndAStringOrAScript() {
        String json = new Json().open().put("k", "a\"b\\c\nd\u0001</script>\u2028").put("n", 3).array("l")
                .put(null, "x").element().put("y", true).close().end().close().toString();
        assertEquals("{\"k\":\"a\\\"b\\\\c\\nd\\u0001\\u003c/script>\\u2028\",\"n\":3,\"l\":[\"x\",{\"y\":true}]}", json);
    }

    @Test
    void pathsSplitWhereTheWalkJoined() {
        assertEquals(java.util.List.of("CORE", "u/x", "c\\d", ""),
                     java.util.List.of(Session.split("CORE/u\\/x/c\\\\d/")));
        assertEquals(0, Session.split("").length);
    }

    @Test
    void formsDecodeAndMalformedOnesAreRefused() throws Exception {
        assertEquals(Map.of("op", "inst-view", "path", "CORE/ALU0", "value", "a b"),
                     Server.form("op=inst-view&path=CORE%2FALU0&value=a+b"));
        assertThrows(Session.Refused.class, () -> Server.form("value=%zz"));
    }
}
