/* x87 instructions run one by one over given operands, control and status
   words, recording the registers, status word, EFLAGS and stored memory each
   leaves behind. Built for the emulator (x87ops.dll) and natively for the
   host from this same source, so that both run the very same instructions. */
#include "x87ops.h"

#ifdef _WIN32
#define X87_API __declspec(dllexport) __attribute__((stdcall))
#else
#define X87_API
#endif

struct x87_memory {
    float f32;
    double f64;
    int i32;
    short i16;
    long long i64;
    unsigned char f80[10];
};

static void copy_bytes(void* to, const void* from, unsigned count)
{
    volatile unsigned char* t = (volatile unsigned char*)to;
    const unsigned char* f = (const unsigned char*)from;
    for (unsigned i = 0; i < count; i++)
        t[i] = f[i];
}

/* One instruction; %0 receives the status word right after it. */
#define OP(insn)                                                                                   \
    __asm__ volatile(insn "\n\tfnstsw %0"                                                          \
                     : "=a"(sw), "+m"(m.f32), "+m"(m.f64), "+m"(m.i32), "+m"(m.i16), "+m"(m.i64),  \
                       "+m"(m.f80)                                                                 \
                     :                                                                             \
                     : "memory")

/* FCOMI and friends: EFLAGS set beforehand (OF, SF, AF, ZF, PF, CF all one)
   and read back (AH from LAHF, AL = OF). */
#define OPF(insn)                                                                                  \
    __asm__ volatile("movb $0x7f, %%al\n\taddb $1, %%al\n\tmovb $0xd5, %%ah\n\tsahf\n\t" insn      \
                     "\n\tlahf\n\tseto %%al\n\tmovw %%ax, %1\n\tfnstsw %0"                         \
                     : "=&a"(sw), "=m"(flags)                                                      \
                     :                                                                             \
                     : "memory", "cc")

static unsigned short run_op(unsigned op, struct x87_memory* mp, unsigned short* flagsOut)
{
    struct x87_memory m = *mp;
    unsigned short sw = 0;
    unsigned short flags = 0;
    switch (op) {
    /* ST0 op ST1, ST1 op ST0, and the popping form */
    case kX87FaddSt0St1:
        OP(".byte 0xd8, 0xc1");
        break;
    case kX87FmulSt0St1:
        OP(".byte 0xd8, 0xc9");
        break;
    case kX87FsubSt0St1:
        OP(".byte 0xd8, 0xe1");
        break;
    case kX87FsubrSt0St1:
        OP(".byte 0xd8, 0xe9");
        break;
    case kX87FdivSt0St1:
        OP(".byte 0xd8, 0xf1");
        break;
    case kX87FdivrSt0St1:
        OP(".byte 0xd8, 0xf9");
        break;
    case kX87FaddSt1St0:
        OP(".byte 0xdc, 0xc1");
        break;
    case kX87FmulSt1St0:
        OP(".byte 0xdc, 0xc9");
        break;
    case kX87FsubSt1St0:
        OP(".byte 0xdc, 0xe9");
        break;
    case kX87FsubrSt1St0:
        OP(".byte 0xdc, 0xe1");
        break;
    case kX87FdivSt1St0:
        OP(".byte 0xdc, 0xf9");
        break;
    case kX87FdivrSt1St0:
        OP(".byte 0xdc, 0xf1");
        break;
    case kX87Faddp:
        OP(".byte 0xde, 0xc1");
        break;
    case kX87Fsubp:
        OP(".byte 0xde, 0xe9");
        break;
    case kX87Fdivrp:
        OP(".byte 0xde, 0xf1");
        break;
    /* memory operands */
    case kX87FaddM32:
        OP("fadds %1");
        break;
    case kX87FaddM64:
        OP("faddl %2");
        break;
    case kX87FiaddM32:
        OP("fiaddl %3");
        break;
    case kX87FiaddM16:
        OP("fiadds %4");
        break;
    case kX87FmulM32:
        OP("fmuls %1");
        break;
    case kX87FmulM64:
        OP("fmull %2");
        break;
    case kX87FimulM32:
        OP("fimull %3");
        break;
    case kX87FsubM32:
        OP("fsubs %1");
        break;
    case kX87FsubM64:
        OP("fsubl %2");
        break;
    case kX87FisubM16:
        OP("fisubs %4");
        break;
    case kX87FsubrM32:
        OP("fsubrs %1");
        break;
    case kX87FsubrM64:
        OP("fsubrl %2");
        break;
    case kX87FisubrM32:
        OP("fisubrl %3");
        break;
    case kX87FdivM32:
        OP("fdivs %1");
        break;
    case kX87FdivM64:
        OP("fdivl %2");
        break;
    case kX87FidivM32:
        OP("fidivl %3");
        break;
    case kX87FdivrM32:
        OP("fdivrs %1");
        break;
    case kX87FdivrM64:
        OP("fdivrl %2");
        break;
    case kX87FidivrM16:
        OP("fidivrs %4");
        break;
    /* compares */
    case kX87FcomSt1:
        OP(".byte 0xd8, 0xd1");
        break;
    case kX87FcompSt1:
        OP(".byte 0xd8, 0xd9");
        break;
    case kX87Fcompp:
        OP(".byte 0xde, 0xd9");
        break;
    case kX87FucomSt1:
        OP(".byte 0xdd, 0xe1");
        break;
    case kX87FucompSt1:
        OP(".byte 0xdd, 0xe9");
        break;
    case kX87Fucompp:
        OP(".byte 0xda, 0xe9");
        break;
    case kX87FcomM32:
        OP("fcoms %1");
        break;
    case kX87FcompM64:
        OP("fcompl %2");
        break;
    case kX87FicomM32:
        OP("ficoml %3");
        break;
    case kX87FicompM16:
        OP("ficomps %4");
        break;
    case kX87Ftst:
        OP("ftst");
        break;
    case kX87Fxam:
        OP("fxam");
        break;
    case kX87FcomiSt1:
        OPF(".byte 0xdb, 0xf1");
        break;
    case kX87FucomiSt1:
        OPF(".byte 0xdb, 0xe9");
        break;
    case kX87FcomipSt1:
        OPF(".byte 0xdf, 0xf1");
        break;
    case kX87FucomipSt1:
        OPF(".byte 0xdf, 0xe9");
        break;
    /* one operand */
    case kX87Fsqrt:
        OP("fsqrt");
        break;
    case kX87Frndint:
        OP("frndint");
        break;
    case kX87Fchs:
        OP("fchs");
        break;
    case kX87Fabs:
        OP("fabs");
        break;
    case kX87F2xm1:
        OP("f2xm1");
        break;
    case kX87Fsin:
        OP("fsin");
        break;
    case kX87Fcos:
        OP("fcos");
        break;
    case kX87Fptan:
        OP("fptan");
        break;
    case kX87Fsincos:
        OP("fsincos");
        break;
    case kX87Fxtract:
        OP("fxtract");
        break;
    /* two stack operands */
    case kX87Fscale:
        OP("fscale");
        break;
    case kX87Fprem:
        OP("fprem");
        break;
    case kX87Fprem1:
        OP("fprem1");
        break;
    case kX87Fyl2x:
        OP("fyl2x");
        break;
    case kX87Fyl2xp1:
        OP("fyl2xp1");
        break;
    case kX87Fpatan:
        OP("fpatan");
        break;
    /* constants */
    case kX87Fld1:
        OP("fld1");
        break;
    case kX87Fldl2t:
        OP("fldl2t");
        break;
    case kX87Fldl2e:
        OP("fldl2e");
        break;
    case kX87Fldpi:
        OP("fldpi");
        break;
    case kX87Fldlg2:
        OP("fldlg2");
        break;
    case kX87Fldln2:
        OP("fldln2");
        break;
    case kX87Fldz:
        OP("fldz");
        break;
    /* loads */
    case kX87FldM32:
        OP("flds %1");
        break;
    case kX87FldM64:
        OP("fldl %2");
        break;
    case kX87FldM80:
        OP("fldt %6");
        break;
    case kX87FildM32:
        OP("fildl %3");
        break;
    case kX87FildM16:
        OP("filds %4");
        break;
    case kX87FildM64:
        OP("fildll %5");
        break;
    /* stores */
    case kX87FstM32:
        OP("fsts %1");
        break;
    case kX87FstpM32:
        OP("fstps %1");
        break;
    case kX87FstM64:
        OP("fstl %2");
        break;
    case kX87FstpM80:
        OP("fstpt %6");
        break;
    case kX87FistM16:
        OP("fists %4");
        break;
    case kX87FistM32:
        OP("fistl %3");
        break;
    case kX87FistpM64:
        OP("fistpll %5");
        break;
    case kX87FisttpM16:
        OP("fisttps %4");
        break;
    case kX87FisttpM32:
        OP("fisttpl %3");
        break;
    case kX87FisttpM64:
        OP("fisttpll %5");
        break;
    /* register moves */
    case kX87FldSt1:
        OP(".byte 0xd9, 0xc1");
        break;
    case kX87FstSt1:
        OP(".byte 0xdd, 0xd1");
        break;
    case kX87FstpSt1:
        OP(".byte 0xdd, 0xd9");
        break;
    case kX87FxchSt1:
        OP(".byte 0xd9, 0xc9");
        break;
    case kX87FcmovbSt1:
        OPF(".byte 0xda, 0xc1");
        break;
    case kX87FcmovnbSt1:
        OPF(".byte 0xdb, 0xc1");
        break;
    default:
        break;
    }
    *mp = m;
    *flagsOut = flags;
    return sw;
}

X87_API unsigned RunX87Cases(const struct X87Case* cases, unsigned count, struct X87Result* results)
{
    unsigned short hostControl;
    __asm__ volatile("fnstcw %0" : "=m"(hostControl));
    for (unsigned n = 0; n < count; n++) {
        const struct X87Case* c = &cases[n];
        struct X87Result* r = &results[n];
        /* 28-byte environment: control, status (top 0), every tag empty */
        unsigned int env[7] = {c->control, c->status, 0xFFFF, 0, 0, 0, 0};
        unsigned depth = c->depth > 8 ? 8 : c->depth;
        unsigned char image[108];
        struct x87_memory m;
        unsigned short flags = 0;
        copy_bytes(&m.f32, c->memory, 4);
        copy_bytes(&m.f64, c->memory + 4, 8);
        copy_bytes(&m.i32, c->memory + 12, 4);
        copy_bytes(&m.i16, c->memory + 16, 2);
        copy_bytes(&m.i64, c->memory + 18, 8);
        copy_bytes(m.f80, c->b, 10);
        /* b in every register below ST0, a in ST0 */
        __asm__ volatile("fldenv %0" : : "m"(env) : "memory");
        for (unsigned i = 1; i < depth; i++)
            __asm__ volatile("fldt %0" : : "m"(*(const unsigned char(*)[10])c->b) : "memory");
        if (depth > 0)
            __asm__ volatile("fldt %0" : : "m"(*(const unsigned char(*)[10])c->a) : "memory");
        r->status = run_op(c->op, &m, &flags);
        r->flags = flags;
        __asm__ volatile("fnsave %0" : "=m"(image) : : "memory");
        r->savedControl = (unsigned short)(image[0] | image[1] << 8);
        r->savedStatus = (unsigned short)(image[4] | image[5] << 8);
        r->tags = (unsigned short)(image[8] | image[9] << 8);
        r->pad = 0;
        /* Registers of empty slots hold leftovers: recorded as zero. */
        unsigned top = (r->savedStatus >> 11) & 7;
        for (unsigned i = 0; i < 8; i++) {
            unsigned tag = (r->tags >> (2 * ((top + i) & 7))) & 3;
            for (unsigned k = 0; k < 10; k++)
                r->st[i][k] = tag == 3 ? 0 : image[28 + 10 * i + k];
        }
        copy_bytes(r->memory, &m.f32, 4);
        copy_bytes(r->memory + 4, &m.f64, 8);
        copy_bytes(r->memory + 12, &m.i32, 4);
        copy_bytes(r->memory + 16, &m.i16, 2);
        copy_bytes(r->memory + 18, &m.i64, 8);
        copy_bytes(r->memory + 26, m.f80, 10);
    }
    __asm__ volatile("fninit\n\tfldcw %0" : : "m"(hostControl));
    return count;
}

#ifdef _WIN32
/* What FNSTENV reports as the last x87 instruction's address (FIP), with
   integer instructions after it, and again after a jump: out[0] and out[2]
   the reported addresses, out[1] and out[3] the instructions' own. */
X87_API void X87InstructionPointers(unsigned* out)
{
    unsigned env[2][7];
    unsigned first, second;
    __asm__ volatile("fld1\n\t"
                     "fldz\n"
                     "1:\tfaddp\n\t"
                     "movl $1b, %0\n\t"
                     "fnstenv %2\n\t"
                     "fldenv %2\n"
                     "2:\tfchs\n\t"
                     "movl $2b, %1\n\t"
                     "jmp 3f\n"
                     "3:\tfnstenv %3\n\t"
                     "fldenv %3\n\t"
                     "fstp %%st(0)"
                     : "=&r"(first), "=&r"(second), "=m"(env[0]), "=m"(env[1])
                     :
                     : "memory");
    out[0] = env[0][3];
    out[1] = first;
    out[2] = env[1][3];
    out[3] = second;
}
#endif

#ifdef _WIN32
/* 1 + 1 right after an FLDCW (out[0]) and an FLDENV (out[1]) that unmask
   the divide-by-zero exception, each in a run of code that began masked:
   the instructions after them leave the host FPU for softfloat at once. */
X87_API void X87AfterUnmasking(float* out)
{
    unsigned short masked = 0x037F, unmasked = 0x037B;
    unsigned env[7];
    __asm__ volatile("fld1\n\t"
                     "fldcw %3\n\t"
                     "fld1\n\t"
                     "faddp\n\t"
                     "fstps %0\n\t"
                     "fldcw %4\n\t"
                     "jmp 1f\n" /* a block that starts masked */
                     "1:\tfld1\n\t"
                     "fnstenv %2\n\t"
                     "movw %3, %%ax\n\t"
                     "movw %%ax, %2\n\t"
                     "fldenv %2\n\t"
                     "fld1\n\t"
                     "faddp\n\t"
                     "fstps %1\n\t"
                     "fldcw %4"
                     : "=m"(out[0]), "=m"(out[1]), "=m"(env)
                     : "m"(unmasked), "m"(masked)
                     : "eax", "memory");
}
#endif

#ifdef _WIN32
int __attribute__((stdcall)) DllMain(void* instance, unsigned reason, void* reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return 1;
}
#endif
