// Another view of the blinker's cells: a toggle that holds its value while
// in reset instead of clearing it.
module toggle(input clk, input rst, output reg q);
  initial q = 1'b0;
  always @(posedge clk) if (!rst) q <= ~q;
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
