/* The SSE, SSE2 and SSE3 instruction cases shared by sseops.c (built for the
   emulator and for the host) and the test that compares the two. Fixed byte
   layouts, the same for i686 and x86-64. */
#ifndef SSEOPS_H
#define SSEOPS_H

#ifdef __cplusplus
extern "C" {
#endif

/* Each runs on XMM0 (the destination, from `a`) and XMM1 (the source,
   from `b`), or on the integer `n` (cvtsi2*) with the result in `n`
   (cvt*2si). */
enum SseOp {
    kSseAddps,
    kSseAddss,
    kSseAddpd,
    kSseAddsd,
    kSseSubps,
    kSseSubss,
    kSseSubpd,
    kSseSubsd,
    kSseMulps,
    kSseMulss,
    kSseMulpd,
    kSseMulsd,
    kSseDivps,
    kSseDivss,
    kSseDivpd,
    kSseDivsd,
    kSseMinps,
    kSseMinss,
    kSseMinpd,
    kSseMinsd,
    kSseMaxps,
    kSseMaxss,
    kSseMaxpd,
    kSseMaxsd,
    kSseSqrtps,
    kSseSqrtss,
    kSseSqrtpd,
    kSseSqrtsd,
    kSseCmpeqps,
    kSseCmpltps,
    kSseCmpleps,
    kSseCmpunordps,
    kSseCmpneqps,
    kSseCmpnltps,
    kSseCmpnleps,
    kSseCmpordps,
    kSseCmpltss,
    kSseCmpnless,
    kSseCmpeqpd,
    kSseCmplepd,
    kSseCmpunordsd,
    kSseCmpnltsd,
    kSseComiss,
    kSseUcomiss,
    kSseComisd,
    kSseUcomisd,
    kSseCvtps2pd,
    kSseCvtpd2ps,
    kSseCvtss2sd,
    kSseCvtsd2ss,
    kSseCvtdq2ps,
    kSseCvtps2dq,
    kSseCvttps2dq,
    kSseCvtdq2pd,
    kSseCvtpd2dq,
    kSseCvttpd2dq,
    kSseCvtsi2ss,
    kSseCvtsi2sd,
    kSseCvtss2si,
    kSseCvttss2si,
    kSseCvtsd2si,
    kSseCvttsd2si,
    kSseHaddps,
    kSseHaddpd,
    kSseHsubps,
    kSseHsubpd,
    kSseAddsubps,
    kSseAddsubpd,
    /* Moves, shuffles, bit and integer operations and arithmetic (one
       with its operand in memory) across XMM0-7 in one straight run, as
       compiled code chains them, folded into XMM0. */
    kSseChain,
    kSseOpCount
};

struct SseCase {
    unsigned int mxcsr; /* loaded before the instruction */
    unsigned int op;
    unsigned char a[16];
    unsigned char b[16];
    int n;
    unsigned int pad;
};

struct SseResult {
    unsigned char d[16]; /* XMM0 afterwards */
    unsigned int mxcsr;  /* right after the instruction */
    unsigned int flags;  /* comis family: AH from LAHF, AL = OF */
    int n;
    unsigned int pad;
};

#ifndef _WIN32
/* The host build of sseops.c (the module exports the same function). */
unsigned RunSseCases(const struct SseCase* cases, unsigned count, struct SseResult* results);
#endif

#ifdef __cplusplus
}
#endif

#endif
