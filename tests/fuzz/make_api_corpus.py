#!/usr/bin/env python3
"""Writes the seed programs of api_fuzz into corpus/api_fuzz/.

api_fuzz reads its input with FuzzedDataProvider: every choice is an integer
taken from the END of the input, strings of raw bytes from its front.  A seed
is written here as the choices api_fuzz makes, in the order it makes them, and
encoded the way FuzzedDataProvider decodes them.  Run with API_FUZZ_TRACE=1 to
see the natives a seed calls:
    API_FUZZ_TRACE=1 build/fuzz/tests/fuzz/api_fuzz tests/fuzz/corpus/api_fuzz/walk-chip
"""
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = open(os.path.join(HERE, "api_fuzz.cpp"), encoding="utf-8").read()
WORDS_SOURCE = SOURCE[SOURCE.index("kWords[] = {"):SOURCE.index("};", SOURCE.index("kWords[] = {"))]
WORDS = [w for w in re.findall(r'"((?:[^"\\]|\\.)*)"', WORDS_SOURCE)]


class Program:
    def __init__(self):
        self.back = []   # integers, in the order they are consumed
        self.front = b""

    def pick(self, value, lo, hi):
        """ConsumeIntegralInRange(lo, hi) giving value."""
        assert lo <= value <= hi, (value, lo, hi)
        span = hi - lo
        offset = value - lo
        nbytes = 0
        while nbytes < 8 and (span >> (8 * nbytes)) > 0:
            nbytes += 1
        # The first byte taken becomes the most significant one.
        for k in reversed(range(nbytes)):
            self.back.append((offset >> (8 * k)) & 0xFF)
        return self

    def flag(self, on):
        return self.pick(1 if on else 0, 0, 255)  # ConsumeBool: the low bit of a byte

    # ---- arguments, as api_fuzz decodes them
    def word(self, w):
        self.pick(2, 0, 11)
        return self.pick(WORDS.index(w), 0, len(WORDS) - 1)

    def null(self):
        return self.pick(0, 0, 11)

    def empty(self):
        return self.pick(1, 0, 11)

    def long(self, w, times):
        self.pick(10, 0, 11)
        self.word_index(w)
        self.pick(times, 1, 5000)
        return self.flag(True)

    def word_index(self, w):
        return self.pick(WORDS.index(w), 0, len(WORDS) - 1)

    def s(self, w):
        return self.null() if w is None else self.empty() if w == "" else self.word(w)

    def listener(self, k):
        """0 none, 1 records, 2 throws, 3 and 4 have no processWarning, 5 calls back (nested() follows)."""
        return self.pick(k, 0, 5)

    def nested(self, *calls):
        """The sub-program of a calling-back listener: (kind, config, path vector) each, strings
        null, and the first path-vector handle seen as int argument."""
        self.pick(len(calls), 1, 4)
        for kind, cfg, pv in calls:
            self.pick(kind, 0, 15).obj(cfg).obj(pv)
            for _ in range(4):
                self.null()
            self.pick(0, 0, 5).pick(0, 0, 0)
        return self

    def boolean(self, v):  # flag(): 3 gives 2, else a bool
        self.pick(0, 0, 3)
        return self.flag(v)

    def obj(self, k):
        return self.pick(k, 0, 2)

    # ---- steps
    def step(self, kind):
        return self.pick(kind, 0, 39)

    def open_chip(self, cfg=0, listener=1):
        """The usual way in: open design/chip:config with "a" and make a path vector."""
        self.step(19).obj(cfg).flag(True).flag(True).listener(listener)
        return self.obj(0)  # where the path vector's handle is stored

    def config_step(self, cfg, kind):
        return self.step(0).obj(cfg).pick(kind, 0, 8)

    def rule_step(self, cfg, kind):
        return self.step(1).obj(cfg).pick(kind, 0, 27)

    def constant_step(self, cfg, kind):
        return self.step(4).obj(cfg).pick(kind, 0, 8)

    def push(self, pv, lib, cell, view, inst):
        self.step(9).obj(pv).pick(0, 0, 4)
        for w in (lib, cell, view, inst):
            self.s(w)
        return self

    def move(self, pv, kind):  # 2 popCell, 3 pop, 4 popToTop
        return self.step(9).obj(pv).pick(kind, 0, 4)

    def context(self, pv, kind):
        return self.step(11).obj(pv).pick(kind, 0, 15)

    def bind(self, pv, inst, lib, cell, view, listener=1):
        self.step(13).obj(pv).pick(0, 0, 7)
        for w in (inst, lib, cell, view):
            self.s(w)
        self.boolean(True).boolean(True).boolean(False)
        return self.listener(listener)

    def bind_query(self, pv, kind):
        return self.step(13).obj(pv).pick(kind, 0, 7)

    def stop(self, pv, at_stop):
        return self.step(15).obj(pv).flag(at_stop)

    def lifecycle(self, kind, obj, store_in=None):
        """0 createNPathVector, 1 copy_n (the new handle stored in object store_in, or not), 2 destroy."""
        self.step(8).pick(kind, 0, 2).obj(obj)
        if kind == 2:
            return self
        self.flag(store_in is not None)
        return self if store_in is None else self.obj(store_in)

    def set_field(self, config_field, obj, handle_kind, value=0, seen=1):
        """Sets a handle field: handle_kind 0-2 the value-th of the `seen` handles of its kind seen so
        far, 3 of the other kind, 4 the number value."""
        self.step(16).flag(config_field).obj(obj).pick(handle_kind, 0, 5)
        if handle_kind <= 3:
            self.pick(value, 0, seen - 1)
        elif handle_kind == 4:
            self.pick(value, 1, 8)
        return self

    def occurrence(self, cfg, kind, handle_kind=0):
        return self.step(6).obj(cfg).pick(handle_kind, 0, 5).pick(0, 0, 0).pick(kind, 0, 2)

    def inject(self, utf_chars, n):
        return self.step(17).pick(n, 1, 5).flag(utf_chars)

    def encode(self):
        return self.front + bytes(reversed(self.back))


def walk_chip():
    p = Program()
    p.open_chip()
    p.push(0, "design", "chip", "schematic", None)
    p.context(0, 12)                          # isAnyInstRules
    p.bind(0, "CORE", "design", "core", "symbol")
    p.bind_query(0, 3).bind_query(0, 4).bind_query(0, 5)
    p.stop(0, True).stop(0, False)
    p.push(0, "design", "core", "schematic", "CORE")
    p.context(0, 9).context(0, 10).context(0, 10)  # enumerate the instances with rules
    p.bind(0, "ALU1", "design", "alu", "symbol")
    p.stop(0, True).stop(0, False)
    p.context(0, 7).context(0, 8).pick(4, 0, 5).pick(1, -3, 300)  # getIndex*(1)
    p.move(0, 2).move(0, 4)
    p.lifecycle(2, 0)                         # destroy
    p.config_step(0, 5)                       # close
    return p


def edit_and_save():
    p = Program()
    p.open_chip(listener=1)
    p.rule_step(0, 0).s("design").s("chip").s("schematic")      # setTopCellViewName
    p.rule_step(0, 7).s("stdcells").s("inv").s("symbol")        # replaceCellViewBinding
    p.rule_step(0, 11).s("design").s("alu").s(None).s("NEG").s("symbol")  # replaceInstViewBinding
    p.rule_step(0, 18).s(None).s("inv").s(None).s(None).boolean(True)   # setStopPointValue
    p.rule_step(0, 26).s(r"\xC0\x80")                             # addNoteLine
    p.constant_step(0, 0).s("GATE_VIEW").s("$(GATE_VIEW) schematic")
    p.constant_step(0, 2).s("$(GATE_VIEW)")                      # evalConstants
    p.constant_step(0, 4).constant_step(0, 6).constant_step(0, 7).constant_step(0, 8).constant_step(0, 5)
    p.push(0, "design", "chip", "schematic", None)
    p.occurrence(0, 1).s("design").s("core").s("schematic").s("CORE")   # setOccurBinding
    p.occurrence(0, 0).s("CORE").s(None).s(None).s(None).boolean(True)  # setOccurStopPointValue
    p.config_step(0, 3).listener(1)                              # save
    p.config_step(0, 4).s("design").s("chip").s("sim_config").listener(2)  # saveAs, throwing listener
    p.config_step(0, 6).config_step(0, 8)
    p.config_step(0, 5)
    return p


def handles_gone_wrong():
    p = Program()
    p.open_chip(cfg=0)
    p.lifecycle(1, 0, store_in=1)              # copy_n into another object
    p.config_step(0, 5)                        # close under the path vectors
    p.push(0, "design", "chip", "schematic", None)
    p.bind(0, "CORE", "design", "core", "symbol", listener=3)  # listener without processWarning
    p.set_field(True, 1, 3, 1, seen=2)         # a path-vector handle in a ZelConfig
    p.rule_step(1, 5).s("stdcells").s("inv")
    p.set_field(False, 2, 4, 1)                # a small number in a ZelPathVector
    p.lifecycle(2, 2).lifecycle(2, 2)          # destroy twice
    p.set_field(True, 2, 4, 7)
    p.occurrence(2, 2, handle_kind=3).s("CORE")  # a configuration handle as path vector
    p.config_step(0, 5).config_step(0, 5)      # close twice
    return p


def strings_gone_wrong():
    p = Program()
    p.open_chip()
    p.inject(True, 2)
    p.rule_step(0, 7).s("stdcells").s("inv").s("symbol")
    p.inject(False, 1)
    p.rule_step(0, 5).s("stdcells").s("inv")
    p.rule_step(0, 8).s("stdcells").long("inv", 3000).s("schematic symbol")
    p.rule_step(0, 26).s(r"\xED\xA0\x80")      # a lone surrogate, as a JVM hands it out
    p.step(18).obj(0).s("design").s("chip").s("schematic").s("CORE").pick(300, 1, 300)  # past the depth limit
    p.context(0, 8).pick(3, 0, 5)             # getIndex*(INT_MAX)
    p.config_step(0, 2).pick(6, 0, 7).flag(True).word_index("config").s("w").listener(1)  # openPartial
    p.config_step(0, 3).listener(1)           # save it
    return p


def rules_of_the_chip():
    """Down to FA0 of ALU0 (an occurrence rule stops it), asking about instance rules on the way."""
    p = Program()
    p.open_chip()
    p.push(0, "design", "chip", "schematic", None)
    p.push(0, "design", "core", "schematic", "CORE")
    p.context(0, 12)                                            # isAnyInstRules
    p.bind_query(0, 7).s("ALU1").s(None).s(None).s(None)        # isSameInstRules
    p.boolean(False).boolean(False).boolean(False).boolean(False)
    p.context(0, 5).s("ALU1")                                   # getContextUnInheritedInstViewBinding
    p.context(0, 14).s("ALU0")                                  # isPartOfOccurPath
    p.push(0, "design", "alu", "schematic", "ALU0")
    p.context(0, 12)
    p.bind(0, "NEG", "stdcells", "inv", "symbol")
    p.bind_query(0, 7).s("NEG").s(None).s(None).s("schematic")
    p.boolean(False).boolean(False).boolean(False).boolean(True)
    p.context(0, 1).s("NEG").s("stdcells").s("inv").s("symbol")  # getContextInstViewString
    p.push(0, "design", "adder", "schematic", "ADD")
    p.bind(0, "FA0", "design", "fulladder", "symbol")
    p.bind_query(0, 4)
    p.push(0, "design", "fulladder", "schematic", "FA0")
    p.stop(0, True).stop(0, False)
    p.move(0, 2)
    p.push(0, "design", "fulladder", "schematic", "FA1")
    p.bind(0, "G0", "stdcells", "nand2", "symbol")
    p.bind_query(0, 3).bind_query(0, 4).bind_query(0, 6)
    return p


def call_back():
    """A bind that warns, its listener closing, destroying, binding and editing what the bind uses."""
    p = Program()
    p.open_chip()
    p.push(0, "design", "chip", "schematic", None)
    p.rule_step(0, 1).s("$(A)$(B)")                             # setDefaultViewListString
    p.bind(0, "CORE", "design", "core", "symbol", listener=5)
    p.nested((1, 0, 0), (0, 0, 0), (3, 0, 0), (2, 0, 0))        # destroy, close, bind, setDefaultViewListString
    p.bind_query(0, 3)
    p.config_step(0, 4).s("chip").s("chip").s("config").listener(5)    # saveAs to an undefined library
    p.nested((0, 0, 0), (12, 0, 0), (7, 1, 0))                  # close, saveAs, open
    return p


def main():
    out = os.path.join(HERE, "corpus", "api_fuzz")
    os.makedirs(out, exist_ok=True)
    for name, make in [("walk-chip", walk_chip), ("edit-and-save", edit_and_save),
                       ("handles-gone-wrong", handles_gone_wrong), ("strings-gone-wrong", strings_gone_wrong),
                       ("rules-of-the-chip", rules_of_the_chip), ("call-back", call_back)]:
        with open(os.path.join(out, name), "wb") as f:
            f.write(make().encode())
    return 0


if __name__ == "__main__":
    sys.exit(main())
