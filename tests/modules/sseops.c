/* SSE, SSE2 and SSE3 instructions run one by one over given operands and MXCSR,
   recording the register, MXCSR, EFLAGS and integer each leaves behind.
   Built for the emulator (sseops.dll) and natively for the host from this
   same source, so that both run the very same instructions. */
#include "sseops.h"

#ifdef _WIN32
#define SSE_API __declspec(dllexport) __attribute__((stdcall))
#else
#define SSE_API
#endif

/* XMM0 = a, XMM1 = b, MXCSR as given; the instruction; MXCSR and XMM0. */
#define OP(insn)                                                                                   \
    __asm__ volatile("ldmxcsr %[mx]\n\tmovups %[a], %%xmm0\n\tmovups %[b], %%xmm1\n\t" insn        \
                     "\n\tstmxcsr %[after]\n\tmovups %%xmm0, %[d]"                                 \
                     : [d] "=m"(r->d), [after] "=m"(r->mxcsr)                                      \
                     : [mx] "m"(c->mxcsr), [a] "m"(c->a), [b] "m"(c->b)                            \
                     : "xmm0", "xmm1", "memory")

/* The comis family, with OF, SF and AF set beforehand (ZF, PF, CF clear);
   EFLAGS come back as AH from LAHF and AL = OF (no push: the host build's
   locals may lie below the stack pointer). */
#define OPF(insn)                                                                                  \
    __asm__ volatile("ldmxcsr %[mx]\n\tmovups %[a], %%xmm0\n\tmovups %[b], %%xmm1\n\t"             \
                     "movb $0x7f, %%al\n\taddb $1, %%al\n\t" insn "\n\tstmxcsr %[after]\n\t"       \
                     "lahf\n\tseto %%al\n\tmovl %%eax, %[fl]\n\tmovups %%xmm0, %[d]"               \
                     : [d] "=m"(r->d), [after] "=m"(r->mxcsr), [fl] "=m"(r->flags)                 \
                     : [mx] "m"(c->mxcsr), [a] "m"(c->a), [b] "m"(c->b)                            \
                     : "xmm0", "xmm1", "eax", "memory", "cc")

/* Integer in: cvtsi2ss/sd from n. */
#define OPI(insn)                                                                                  \
    __asm__ volatile("ldmxcsr %[mx]\n\tmovups %[a], %%xmm0\n\tmovl %[n], %%eax\n\t" insn           \
                     "\n\tstmxcsr %[after]\n\tmovups %%xmm0, %[d]"                                 \
                     : [d] "=m"(r->d), [after] "=m"(r->mxcsr)                                      \
                     : [mx] "m"(c->mxcsr), [a] "m"(c->a), [n] "m"(c->n)                            \
                     : "xmm0", "eax", "memory")

/* Integer out: cvt*2si into n. */
#define OPO(insn)                                                                                  \
    __asm__ volatile("ldmxcsr %[mx]\n\tmovups %[a], %%xmm0\n\t" insn                               \
                     "\n\tstmxcsr %[after]\n\tmovl %%eax, %[n]\n\tmovups %%xmm0, %[d]"             \
                     : [d] "=m"(r->d), [after] "=m"(r->mxcsr), [n] "=m"(r->n)                      \
                     : [mx] "m"(c->mxcsr), [a] "m"(c->a)                                           \
                     : "xmm0", "eax", "memory")

#define CASE(name, insn)                                                                           \
    case kSse##name:                                                                               \
        OP(insn);                                                                                  \
        break;

__attribute__((target("sse2"))) static void run_case(const struct SseCase* c, struct SseResult* r)
{
    switch (c->op) {
        CASE(Addps, "addps %%xmm1, %%xmm0")
        CASE(Addss, "addss %%xmm1, %%xmm0")
        CASE(Addpd, "addpd %%xmm1, %%xmm0")
        CASE(Addsd, "addsd %%xmm1, %%xmm0")
        CASE(Subps, "subps %%xmm1, %%xmm0")
        CASE(Subss, "subss %%xmm1, %%xmm0")
        CASE(Subpd, "subpd %%xmm1, %%xmm0")
        CASE(Subsd, "subsd %%xmm1, %%xmm0")
        CASE(Mulps, "mulps %%xmm1, %%xmm0")
        CASE(Mulss, "mulss %%xmm1, %%xmm0")
        CASE(Mulpd, "mulpd %%xmm1, %%xmm0")
        CASE(Mulsd, "mulsd %%xmm1, %%xmm0")
        CASE(Divps, "divps %%xmm1, %%xmm0")
        CASE(Divss, "divss %%xmm1, %%xmm0")
        CASE(Divpd, "divpd %%xmm1, %%xmm0")
        CASE(Divsd, "divsd %%xmm1, %%xmm0")
        CASE(Minps, "minps %%xmm1, %%xmm0")
        CASE(Minss, "minss %%xmm1, %%xmm0")
        CASE(Minpd, "minpd %%xmm1, %%xmm0")
        CASE(Minsd, "minsd %%xmm1, %%xmm0")
        CASE(Maxps, "maxps %%xmm1, %%xmm0")
        CASE(Maxss, "maxss %%xmm1, %%xmm0")
        CASE(Maxpd, "maxpd %%xmm1, %%xmm0")
        CASE(Maxsd, "maxsd %%xmm1, %%xmm0")
        CASE(Sqrtps, "sqrtps %%xmm1, %%xmm0")
        CASE(Sqrtss, "sqrtss %%xmm1, %%xmm0")
        CASE(Sqrtpd, "sqrtpd %%xmm1, %%xmm0")
        CASE(Sqrtsd, "sqrtsd %%xmm1, %%xmm0")
        CASE(Cmpeqps, "cmpeqps %%xmm1, %%xmm0")
        CASE(Cmpltps, "cmpltps %%xmm1, %%xmm0")
        CASE(Cmpleps, "cmpleps %%xmm1, %%xmm0")
        CASE(Cmpunordps, "cmpunordps %%xmm1, %%xmm0")
        CASE(Cmpneqps, "cmpneqps %%xmm1, %%xmm0")
        CASE(Cmpnltps, "cmpnltps %%xmm1, %%xmm0")
        CASE(Cmpnleps, "cmpnleps %%xmm1, %%xmm0")
        CASE(Cmpordps, "cmpordps %%xmm1, %%xmm0")
        CASE(Cmpltss, "cmpltss %%xmm1, %%xmm0")
        CASE(Cmpnless, "cmpnless %%xmm1, %%xmm0")
        CASE(Cmpeqpd, "cmpeqpd %%xmm1, %%xmm0")
        CASE(Cmplepd, "cmplepd %%xmm1, %%xmm0")
        CASE(Cmpunordsd, "cmpunordsd %%xmm1, %%xmm0")
        CASE(Cmpnltsd, "cmpnltsd %%xmm1, %%xmm0")
        CASE(Cvtps2pd, "cvtps2pd %%xmm1, %%xmm0")
        CASE(Cvtpd2ps, "cvtpd2ps %%xmm1, %%xmm0")
        CASE(Cvtss2sd, "cvtss2sd %%xmm1, %%xmm0")
        CASE(Cvtsd2ss, "cvtsd2ss %%xmm1, %%xmm0")
        CASE(Cvtdq2ps, "cvtdq2ps %%xmm1, %%xmm0")
        CASE(Cvtps2dq, "cvtps2dq %%xmm1, %%xmm0")
        CASE(Cvttps2dq, "cvttps2dq %%xmm1, %%xmm0")
        CASE(Cvtdq2pd, "cvtdq2pd %%xmm1, %%xmm0")
        CASE(Cvtpd2dq, "cvtpd2dq %%xmm1, %%xmm0")
        CASE(Cvttpd2dq, "cvttpd2dq %%xmm1, %%xmm0")
    case kSseComiss:
        OPF("comiss %%xmm1, %%xmm0");
        break;
    case kSseUcomiss:
        OPF("ucomiss %%xmm1, %%xmm0");
        break;
    case kSseComisd:
        OPF("comisd %%xmm1, %%xmm0");
        break;
    case kSseUcomisd:
        OPF("ucomisd %%xmm1, %%xmm0");
        break;
        CASE(Haddps, "haddps %%xmm1, %%xmm0")
        CASE(Haddpd, "haddpd %%xmm1, %%xmm0")
        CASE(Hsubps, "hsubps %%xmm1, %%xmm0")
        CASE(Hsubpd, "hsubpd %%xmm1, %%xmm0")
        CASE(Addsubps, "addsubps %%xmm1, %%xmm0")
        CASE(Addsubpd, "addsubpd %%xmm1, %%xmm0")
    case kSseChain:
        __asm__ volatile(
            "ldmxcsr %[mx]\n\tmovups %[a], %%xmm0\n\tmovups %[b], %%xmm1\n\t"
            "movaps %%xmm0, %%xmm2\n\tmovaps %%xmm1, %%xmm3\n\tmovaps %%xmm1, %%xmm5\n\t"
            "movaps %%xmm0, %%xmm7\n\tshufps $0x1b, %%xmm2, %%xmm2\n\t"
            "unpckhps %%xmm0, %%xmm3\n\tmulps %%xmm3, %%xmm2\n\taddps %%xmm0, %%xmm7\n\t"
            "movaps %%xmm2, %%xmm4\n\t"
            "shufps $0x55, %%xmm2, %%xmm4\n\taddss %%xmm4, %%xmm2\n\tmovss %%xmm2, %%xmm5\n\t"
            "addss %[b], %%xmm5\n\tcvtps2pd %%xmm5, %%xmm6\n\tmovsd %%xmm6, %%xmm7\n\t"
            "subps %%xmm0, %%xmm3\n\tmovlps %[b], %%xmm3\n\tmaxps %%xmm3, %%xmm2\n\tcmpltps "
            "%%xmm0, %%xmm3\n\t"
            "pxor %%xmm3, %%xmm7\n\tpaddd %%xmm7, %%xmm4\n\tpshufd $0x4e, %%xmm4, %%xmm1\n\t"
            "xorps %%xmm2, %%xmm0\n\tpaddd %%xmm3, %%xmm0\n\txorps %%xmm4, %%xmm0\n\t"
            "paddd %%xmm5, %%xmm0\n\txorps %%xmm6, %%xmm0\n\tpaddd %%xmm7, %%xmm0\n\t"
            "xorps %%xmm1, %%xmm0\n\tstmxcsr %[after]\n\tmovups %%xmm0, %[d]"
            : [d] "=m"(r->d), [after] "=m"(r->mxcsr)
            : [mx] "m"(c->mxcsr), [a] "m"(c->a), [b] "m"(c->b)
            : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "memory");
        break;
    case kSseCvtsi2ss:
        OPI("cvtsi2ss %%eax, %%xmm0");
        break;
    case kSseCvtsi2sd:
        OPI("cvtsi2sd %%eax, %%xmm0");
        break;
    case kSseCvtss2si:
        OPO("cvtss2si %%xmm0, %%eax");
        break;
    case kSseCvttss2si:
        OPO("cvttss2si %%xmm0, %%eax");
        break;
    case kSseCvtsd2si:
        OPO("cvtsd2si %%xmm0, %%eax");
        break;
    case kSseCvttsd2si:
        OPO("cvttsd2si %%xmm0, %%eax");
        break;
    }
}

SSE_API unsigned RunSseCases(const struct SseCase* cases, unsigned count, struct SseResult* results)
{
    unsigned saved;
    __asm__ volatile("stmxcsr %0" : "=m"(saved));
    for (unsigned i = 0; i < count; i++) {
        struct SseResult* r = &results[i];
        r->flags = 0;
        r->n = 0;
        r->pad = 0;
        run_case(&cases[i], r);
        r->flags &= 0xD501; /* SF, ZF, AF, PF, CF; OF */
    }
    __asm__ volatile("ldmxcsr %0" : : "m"(saved));
    return count;
}

#ifdef _WIN32
int __attribute__((stdcall)) DllMain(void* instance, unsigned reason, void* reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return 1;
}
#endif
