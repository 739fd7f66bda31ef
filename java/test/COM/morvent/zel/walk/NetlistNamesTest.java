package COM.morvent.zel.walk;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.charset.StandardCharsets;
import java.util.List;
import org.junit.jupiter.api.Test;

/** The escaping of module names into cell names and back, and of names into Verilog and paths. */
class NetlistNamesTest {
    @Test
    void cellNamesReadBack() {
        String[][] cases = {
            // module, cell
            {"picorv32", "picorv32"},
            {"a\\b", "a%5Cb"},
            {"u/x", "u%2Fx"},
            {"m.n[3]", "m.n[3]"},
            {"$_AND_", "$_AND_"},
            {"50%", "50%25"},
            {"a@b~c", "a%40b%7Ec"},
            {".", "%2E"},
            {"..", "%2E%2E"},
            {"tab\there", "tab%09here"},
            {"été", "été"},
        };
        for (String[] c : cases) {
            assertEquals(c[1], NetlistNames.cellOf(c[0]), c[0]);
            assertTrue(LibraryDefinitions.isPathComponent(c[1]), c[1]);
            assertEquals(c[0], NetlistNames.moduleOf(c[1]), c[1]);
        }
    }

    @Test
    void parameterisedAndLongNamesKeepTheirBase() {
        String hashed = "$paramod$4a1fc2b9\\picorv32_pcpi_mul";
        String listed = "$paramod\\gpio\\WIDTH=s32'00000000000000000000000000001000";
        String cell = NetlistNames.cellOf(hashed);
        assertTrue(cell.matches("picorv32_pcpi_mul@[0-9a-f]{8}"), cell);
        assertTrue(NetlistNames.cellOf(listed).matches("gpio@[0-9a-f]{8}"), NetlistNames.cellOf(listed));
        // Two parameter sets of one module: two cells.
        assertTrue(!cell.equals(NetlistNames.cellOf("$paramod$00000000\\picorv32_pcpi_mul")));
        assertNull(NetlistNames.moduleOf(cell));

        String longName = "x".repeat(NetlistNames.MAX_BYTES) + "é/";
        String shortened = NetlistNames.cellOf(longName);
        assertTrue(shortened.getBytes(StandardCharsets.UTF_8).length <= NetlistNames.MAX_BYTES, shortened);
        assertTrue(shortened.matches("x+~[0-9a-f]{16}"), shortened);
        assertTrue(!shortened.equals(NetlistNames.cellOf(longName + "y")));
        assertNull(NetlistNames.moduleOf(shortened));
        // Just at the limit: kept whole.
        String limit = "y".repeat(NetlistNames.MAX_BYTES);
        assertEquals(limit, NetlistNames.cellOf(limit));
    }

    @Test
    void verilogAndPathForms() {
        assertEquals("core_0", NetlistNames.verilog("core_0"));
        assertEquals("\\u/x ", NetlistNames.verilog("u/x"));
        assertEquals("\\$_AND_ ", NetlistNames.verilog("$_AND_"));
        assertEquals("\\module ", NetlistNames.verilog("module"));
        assertEquals("\\0a ", NetlistNames.verilog("0a"));
        assertEquals("\\a_b ", NetlistNames.verilog("a b"));
        assertEquals("u\\/x", Node.pathName("u/x"));
        assertEquals("c\\\\d", Node.pathName("c\\d"));
        assertEquals("plain", Node.pathName("plain"));
    }

    @Test
    void instancesAreFoundAndRetyped() {
        String text = "module top(a, y);\n  input a;\n  output y;\n  // sub fake (\n"
                      + "  \\$_NOT_  \\u/x  (\n    .A(a),\n    .Y(y)\n  );\n"
                      + "  sub #(\n    .W(1)\n  ) s [0:0] (.A(a));\n  assign y = f(a);\nendmodule\n";
        List<VerilogText.Token> tokens = VerilogText.tokens(text);
        List<VerilogText.Instance> found = VerilogText.instances(tokens, n -> n.equals("u/x") || n.equals("s") || n.equals("fake"));
        assertEquals(2, found.size());
        assertEquals("$_NOT_", found.get(0).type.name);
        assertEquals(List.of("A", "Y"), found.get(0).ports);
        assertEquals("sub", found.get(1).type.name);
        String renamed = VerilogText.rename(text, tokens, found, "top__gl", n -> n.equals("s") ? "sub__rtl" : "inv x");
        assertTrue(renamed.startsWith("module top__gl(a, y);"), renamed);
        assertTrue(renamed.contains("  \\inv_x   \\u/x  ("), renamed);
        assertTrue(renamed.contains("  sub__rtl #("), renamed);
        assertTrue(renamed.contains("// sub fake ("), renamed);
        assertEquals(List.of("top", "next"), List.copyOf(VerilogText.modules(text + "module next; endmodule\n").keySet()));
    }
}
