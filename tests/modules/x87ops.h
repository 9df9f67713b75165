/* The x87 instruction cases shared by x87ops.c (built for the emulator and
   for the host) and the test that compares the two. Fixed byte layouts, the
   same for i686 and x86-64. */
#ifndef X87OPS_H
#define X87OPS_H

#ifdef __cplusplus
extern "C" {
#endif

enum X87Op {
    kX87FaddSt0St1,
    kX87FmulSt0St1,
    kX87FsubSt0St1,
    kX87FsubrSt0St1,
    kX87FdivSt0St1,
    kX87FdivrSt0St1,
    kX87FaddSt1St0,
    kX87FmulSt1St0,
    kX87FsubSt1St0,
    kX87FsubrSt1St0,
    kX87FdivSt1St0,
    kX87FdivrSt1St0,
    kX87Faddp,
    kX87Fsubp,
    kX87Fdivrp,
    kX87FaddM32,
    kX87FaddM64,
    kX87FiaddM32,
    kX87FiaddM16,
    kX87FmulM32,
    kX87FmulM64,
    kX87FimulM32,
    kX87FsubM32,
    kX87FsubM64,
    kX87FisubM16,
    kX87FsubrM32,
    kX87FsubrM64,
    kX87FisubrM32,
    kX87FdivM32,
    kX87FdivM64,
    kX87FidivM32,
    kX87FdivrM32,
    kX87FdivrM64,
    kX87FidivrM16,
    kX87FcomSt1,
    kX87FcompSt1,
    kX87Fcompp,
    kX87FucomSt1,
    kX87FucompSt1,
    kX87Fucompp,
    kX87FcomM32,
    kX87FcompM64,
    kX87FicomM32,
    kX87FicompM16,
    kX87Ftst,
    kX87Fxam,
    kX87FcomiSt1,
    kX87FucomiSt1,
    kX87FcomipSt1,
    kX87FucomipSt1,
    kX87Fsqrt,
    kX87Frndint,
    kX87Fchs,
    kX87Fabs,
    kX87F2xm1,
    kX87Fsin,
    kX87Fcos,
    kX87Fptan,
    kX87Fsincos,
    kX87Fxtract,
    kX87Fscale,
    kX87Fprem,
    kX87Fprem1,
    kX87Fyl2x,
    kX87Fyl2xp1,
    kX87Fpatan,
    kX87Fld1,
    kX87Fldl2t,
    kX87Fldl2e,
    kX87Fldpi,
    kX87Fldlg2,
    kX87Fldln2,
    kX87Fldz,
    kX87FldM32,
    kX87FldM64,
    kX87FldM80,
    kX87FildM32,
    kX87FildM16,
    kX87FildM64,
    kX87FstM32,
    kX87FstpM32,
    kX87FstM64,
    kX87FstpM80,
    kX87FistM16,
    kX87FistM32,
    kX87FistpM64,
    kX87FisttpM16,
    kX87FisttpM32,
    kX87FisttpM64,
    kX87FldSt1,
    kX87FstSt1,
    kX87FstpSt1,
    kX87FxchSt1,
    kX87FcmovbSt1,  /* CF set: moves */
    kX87FcmovnbSt1, /* CF set: does not move */
    kX87OpCount
};

struct X87Case {
    unsigned short control; /* loaded with the environment */
    unsigned short status;  /* condition codes and flags beforehand; top 0 */
    unsigned short op;
    unsigned short depth; /* registers in use beforehand, 0 to 8 */
    unsigned char a[10];  /* ST0 */
    unsigned char b[10];  /* ST1 to ST7, and the 80-bit memory operand */
    /* memory operands: float @0, double @4, int32 @12, int16 @16, int64 @18 */
    unsigned char memory[28];
};

struct X87Result {
    unsigned short status; /* right after the instruction */
    unsigned short flags;  /* FCOMI family: AH from LAHF, AL = OF */
    unsigned short savedControl;
    unsigned short savedStatus;
    unsigned short tags;
    unsigned short pad;
    unsigned char st[8][10];  /* ST0..ST7, zero where empty */
    unsigned char memory[36]; /* the memory operands afterwards, 80-bit @26 */
};

#ifndef _WIN32
/* The host build of x87ops.c (the module exports the same function). */
unsigned RunX87Cases(const struct X87Case* cases, unsigned count, struct X87Result* results);
#endif

#ifdef __cplusplus
}
#endif

#endif
