// The executables' machine code: functions of x86-64 instructions in the mix
// and with the idioms a compiler emits, calling each other and the imports.
#include <algorithm>
#include <initializer_list>

#include "tools/default_package/executable.h"

namespace {

struct CodeGen {
    Bytes code;
    Rng* rng = nullptr;
    // Compiled functions reuse a few registers and stack slots, which is much
    // of why real code compresses; these are re-drawn for every function.
    std::uint32_t regs[3] = {0, 1, 2};
    std::uint32_t slots[4] = {0x20, 0x28, 0x30, 0x38};
    std::uint32_t base_rva = 0;
    std::size_t limit = 0;
    std::vector<std::uint32_t> functions;
    std::vector<std::uint32_t> iat_slots;
    std::uint32_t rdata_lo = 0, rdata_hi = 0, data_lo = 0, data_hi = 0;
};

std::uint32_t here(const CodeGen& g) { return g.base_rva + u32(g.code.size()); }

void emit(CodeGen& g, std::initializer_list<std::uint32_t> bytes) {
    for (std::uint32_t v : bytes) put8(g.code, v);
}

// rel32 operands are relative to the end of the instruction, which is where
// the displacement itself ends.
void emit_rel32(CodeGen& g, std::uint32_t target) { put32(g.code, target - (here(g) + 4)); }

std::uint32_t any_reg(CodeGen& g) {
    static constexpr std::uint32_t kRegs[] = {0, 1, 2, 3, 6, 7, 8, 9, 10, 11, 0, 1, 2, 3};
    return chance(*g.rng, 80) ? pick(*g.rng, g.regs) : pick(*g.rng, kRegs);
}
std::uint32_t low_reg(CodeGen& g) {
    static constexpr std::uint32_t kRegs[] = {0, 1, 2, 3, 6, 7, 0, 1};
    const std::uint32_t reg = pick(*g.rng, g.regs);
    return reg < 8 && chance(*g.rng, 80) ? reg : pick(*g.rng, kRegs);
}
std::uint32_t slot(CodeGen& g) { return pick(*g.rng, g.slots); }
std::uint32_t rex_w(std::uint32_t reg, std::uint32_t rm) {
    return 0x48u | (reg >= 8 ? 4u : 0u) | (rm >= 8 ? 1u : 0u);
}
std::uint32_t rdata_target(CodeGen& g) {
    return g.rdata_lo + 8u * below(*g.rng, (g.rdata_hi - g.rdata_lo) / 8u);
}
std::uint32_t data_target(CodeGen& g) { return g.data_lo + 4u * below(*g.rng, (g.data_hi - g.data_lo) / 4u); }

std::uint32_t common_immediate(Rng& r) {
    static constexpr std::uint32_t kValues[] = {0,     1,     2,     3,    4,    8,   0x10, 0x20,
                                                0x40,  0x80,  0x100, 0x400, 0x1000, 0x8000, 0xFFFFFFFFu};
    const std::uint32_t roll = below(r, 100);
    if (roll < 3) return next_u32(r);
    if (roll < 25) return below(r, 1000);
    return pick(r, kValues);
}

void ins_local(CodeGen& g, bool store) {  // mov reg, [rsp+disp8] / mov [rsp+disp8], reg
    const std::uint32_t reg = any_reg(g);
    emit(g, {rex_w(reg, 0), store ? 0x89u : 0x8Bu, 0x44u | ((reg & 7u) << 3), 0x24u, slot(g)});
}
void ins_mov_reg(CodeGen& g) {
    const std::uint32_t dst = any_reg(g);
    std::uint32_t src = any_reg(g);
    if (src == dst) src = dst == 3 ? 6 : 3;  // compilers never emit mov reg, reg
    emit(g, {rex_w(dst, src), 0x8Bu, 0xC0u | ((dst & 7u) << 3) | (src & 7u)});
}
void ins_mov_imm(CodeGen& g) {
    emit(g, {0xB8u + low_reg(g)});
    put32(g.code, common_immediate(*g.rng));
}
void ins_lea_rip(CodeGen& g) {
    static constexpr std::uint32_t kArgRegs[] = {1, 2, 8, 9, 1, 2};
    const std::uint32_t reg = pick(*g.rng, kArgRegs);
    emit(g, {rex_w(reg, 0), 0x8Du, 0x05u | ((reg & 7u) << 3)});
    emit_rel32(g, rdata_target(g));
}
// The first dozen functions play the small helpers every other function
// calls; until they exist, calls go forward to code not yet laid out.
std::uint32_t hot_function(CodeGen& g) {
    if (g.functions.size() < 12) return g.base_rva + 16u * below(*g.rng, u32(g.limit / 16));
    return g.functions[below(*g.rng, 12)];
}

void ins_call(CodeGen& g) {
    emit(g, {0xE8u});
    std::uint32_t target;
    if (chance(*g.rng, 45)) {
        target = hot_function(g);
    } else if (!g.functions.empty() && chance(*g.rng, 75)) {
        target = g.functions[below(*g.rng, u32(g.functions.size()))];
    } else {
        target = g.base_rva + 16u * below(*g.rng, u32(g.limit / 16));
    }
    emit_rel32(g, target);
}
void ins_call_import(CodeGen& g) {
    emit(g, {0xFFu, 0x15u});
    emit_rel32(g, g.iat_slots[below(*g.rng, u32(g.iat_slots.size()))]);
}
void ins_test_jump(CodeGen& g) {
    if (chance(*g.rng, 50)) emit(g, {0x85u, 0xC0u});
    else emit(g, {0x48u, 0x85u, 0xC0u});
    emit(g, {chance(*g.rng, 50) ? 0x74u : 0x75u, 4u + below(*g.rng, 40)});
}
void ins_cmp_jump(CodeGen& g) {
    static constexpr std::uint32_t kJumps[] = {0x74, 0x75, 0x7C, 0x7D, 0x7E, 0x7F, 0x72, 0x77};
    emit(g, {0x83u, 0xF8u + low_reg(g), below(*g.rng, 16), pick(*g.rng, kJumps), 2u + below(*g.rng, 40)});
}
void ins_xor_zero(CodeGen& g) {
    const std::uint32_t reg = low_reg(g);
    emit(g, {0x33u, 0xC0u | (reg << 3) | reg});
}
void ins_arith(CodeGen& g) {
    static constexpr std::uint32_t kOps[] = {0xC0, 0xE8, 0xE0, 0xC8};  // add, sub, and, or
    static constexpr std::uint32_t kImms[] = {1, 1, 2, 4, 8, 0x10, 0x20, 0x0F, 0x7F};
    const std::uint32_t reg = any_reg(g);
    emit(g, {rex_w(0, reg), 0x83u, pick(*g.rng, kOps) | (reg & 7u), pick(*g.rng, kImms)});
}
void ins_field(CodeGen& g, bool store) {  // mov r32, [base+disp8] and the store form
    static constexpr std::uint32_t kBases[] = {1, 2, 3, 6, 7};
    const std::uint32_t dst = low_reg(g), base = pick(*g.rng, kBases);
    const std::uint32_t disp = 8u * below(*g.rng, 8);
    if (!store && chance(*g.rng, 25)) emit(g, {0x0Fu, 0xB6u, 0x40u | (dst << 3) | base, disp});
    else emit(g, {store ? 0x89u : 0x8Bu, 0x40u | (dst << 3) | base, disp});
}
void ins_global(CodeGen& g) {
    emit(g, {chance(*g.rng, 60) ? 0x8Bu : 0x89u, 0x05u});
    emit_rel32(g, data_target(g));
}
void ins_float(CodeGen& g) {
    const std::uint32_t xmm = below(*g.rng, 4);
    emit(g, {0xF3u, 0x0Fu, chance(*g.rng, 70) ? 0x10u : 0x59u, 0x05u | (xmm << 3)});
    emit_rel32(g, rdata_target(g));
}
void ins_shift(CodeGen& g) {
    const std::uint32_t op = chance(*g.rng, 50) ? 0xE0u : 0xE8u;
    emit(g, {0xC1u, op + low_reg(g), 1u + below(*g.rng, 12)});
}

// Multi-instruction patterns a compiler emits over and over: argument set-up
// followed by a call, virtual calls, checked calls and zeroing calls.
void emit_idiom(CodeGen& g) {
    Rng& r = *g.rng;
    switch (below(r, 5)) {
    case 0:  // lea rcx, [rip+message]; call log helper
        emit(g, {0x48u, 0x8Du, 0x0Du});
        emit_rel32(g, rdata_target(g));
        emit(g, {0xE8u});
        emit_rel32(g, hot_function(g));
        break;
    case 1:  // mov rcx, rbx; call f; test eax, eax; je short
        emit(g, {0x48u, 0x8Bu, 0xCBu, 0xE8u});
        emit_rel32(g, hot_function(g));
        emit(g, {0x85u, 0xC0u, 0x74u, 4u + below(r, 24)});
        break;
    case 2:  // mov rax, [rcx]; call qword [rax+slot]
        emit(g, {0x48u, 0x8Bu, 0x01u, 0xFFu, 0x50u, 8u * below(r, 12)});
        break;
    case 3:  // xor edx, edx; mov r8d, size; mov rcx, rdi; call memset-like helper
        emit(g, {0x33u, 0xD2u, 0x41u, 0xB8u});
        put32(g.code, 8u * (1u + below(r, 32)));
        emit(g, {0x48u, 0x8Bu, 0xCFu, 0xE8u});
        emit_rel32(g, hot_function(g));
        break;
    default:  // mov rcx, [rsp+slot]; mov rdx, rsi; call f
        emit(g, {0x48u, 0x8Bu, 0x4Cu, 0x24u, slot(g), 0x48u, 0x8Bu, 0xD6u, 0xE8u});
        emit_rel32(g, hot_function(g));
        break;
    }
}

void emit_instruction(CodeGen& g) {
    // Weights roughly follow the instruction mix of compiled game code.
    const std::uint32_t roll = below(*g.rng, 100);
    if (roll < 12) ins_local(g, false);
    else if (roll < 18) ins_local(g, true);
    else if (roll < 29) ins_mov_reg(g);
    else if (roll < 36) ins_mov_imm(g);
    else if (roll < 44) ins_lea_rip(g);
    else if (roll < 53) ins_call(g);
    else if (roll < 57) ins_call_import(g);
    else if (roll < 64) ins_test_jump(g);
    else if (roll < 69) ins_cmp_jump(g);
    else if (roll < 73) ins_xor_zero(g);
    else if (roll < 78) ins_arith(g);
    else if (roll < 87) ins_field(g, false);
    else if (roll < 91) ins_field(g, true);
    else if (roll < 95) ins_global(g);
    else if (roll < 97) ins_float(g);
    else ins_shift(g);
}

struct Frame {
    std::vector<std::uint32_t> saved;
    std::uint32_t stack = 0;
};

// sub rsp, n (modrm 0xEC) or add rsp, n (0xC4), with the short immediate when it fits.
void emit_stack_step(CodeGen& g, std::uint32_t modrm, std::uint32_t n) {
    if (n < 0x80) emit(g, {0x48u, 0x83u, modrm, n});
    else {
        emit(g, {0x48u, 0x81u, modrm});
        put32(g.code, n);
    }
}

void emit_prologue(CodeGen& g, const Frame& f) {
    for (std::uint32_t reg : f.saved) {
        if (reg >= 8) emit(g, {0x41u, 0x50u + (reg & 7u)});
        else emit(g, {0x50u + reg});
    }
    emit_stack_step(g, 0xECu, f.stack);
}

void emit_epilogue(CodeGen& g, const Frame& f) {
    emit_stack_step(g, 0xC4u, f.stack);
    for (auto it = f.saved.rbegin(); it != f.saved.rend(); ++it) {
        if (*it >= 8) emit(g, {0x41u, 0x58u + (*it & 7u)});
        else emit(g, {0x58u + *it});
    }
    emit(g, {0xC3u});
}

void emit_function(CodeGen& g, std::size_t body, std::uint32_t mode_constant) {
    align_to(g.code, 16, 0xCC);
    g.functions.push_back(here(g));
    Rng& r = *g.rng;
    static constexpr std::uint32_t kPalette[] = {0, 1, 2, 3, 6, 7, 8, 0, 1, 3};
    for (auto& reg : g.regs) reg = pick(r, kPalette);
    for (auto& s : g.slots) s = 0x20u + 8u * below(r, 10);
    const bool launch_code = g.functions.size() == 2;  // receives the display mode below
    if (!launch_code && chance(r, 15)) {  // small leaf helper
        const std::size_t end = g.code.size() + std::min<std::size_t>(body, 24);
        while (g.code.size() < end) emit_instruction(g);
        emit(g, {0xC3u});
        return;
    }
    static constexpr std::uint32_t kSavable[] = {3, 6, 7, 12, 14};
    Frame f;
    for (std::uint32_t i = 0, n = below(r, 4); i < n; ++i) f.saved.push_back(kSavable[i]);
    f.stack = 0x28u + 0x10u * below(r, 7);
    if (chance(r, 10)) f.stack += 0x100u;
    emit_prologue(g, f);
    if (launch_code) {
        emit(g, {0xB9u});
        put32(g.code, mode_constant);
    }
    const std::size_t end = g.code.size() + body;
    while (g.code.size() < end) {
        if (chance(r, 22)) emit_idiom(g);
        else emit_instruction(g);
        if (chance(r, 2)) emit_epilogue(g, f);  // early return
    }
    emit_epilogue(g, f);
}

}  // namespace

Bytes gen_text(Rng& r, const PeSettings& s, const PeLayout& l, const std::vector<std::uint32_t>& iat_slots,
               std::vector<std::uint32_t>& functions, std::uint32_t& vsize) {
    CodeGen g;
    g.rng = &r;
    g.base_rva = l.text_rva;
    g.limit = l.text_raw;
    g.iat_slots = iat_slots;
    g.rdata_lo = l.rdata_rva + 0x800;
    g.rdata_hi = l.rdata_rva + u32(l.rdata_raw * 7 / 8);
    g.data_lo = l.data_rva;
    g.data_hi = l.data_rva + l.data_vsize - 8;
    // The margin covers alignment, prologue, one overlong instruction and epilogue.
    constexpr std::size_t kMargin = 96;
    while (g.code.size() + kMargin + 32 < l.text_raw) {
        std::size_t body = chance(r, 10) ? between_z(r, 400, 2400) : between_z(r, 16, 400);
        body = std::min(body, l.text_raw - g.code.size() - kMargin);
        emit_function(g, body, s.mode_constant);
    }
    if (g.code.size() > l.text_raw) die("internal error: code overflowed .text");
    vsize = u32(g.code.size());
    pad_to(g.code, l.text_raw);
    functions = g.functions;
    return g.code;
}
