// A small design for the import and export examples of docs/zel.md: a top
// with two toggling flip-flops, one of them through a divider.
module toggle(input clk, input rst, output reg q);
  always @(posedge clk) q <= rst ? 1'b0 : ~q;
endmodule

module divider(input clk, input rst, output q);
  wire half;
  toggle t0(.clk(clk), .rst(rst), .q(half));
  toggle t1(.clk(half), .rst(rst), .q(q));
endmodule

module blinker(input clk, input rst, output fast, output slow);
  toggle  f(.clk(clk), .rst(rst), .q(fast));
  divider d(.clk(clk), .rst(rst), .q(slow));
endmodule
