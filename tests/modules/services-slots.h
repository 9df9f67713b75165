/* Where the services test module records what it saw: one 32-bit word per
   slot of a block the test hands over. Shared by the module (C) and the
   test that reads the block back (C++). */
#ifndef TEST_MODULES_SERVICES_SLOTS_H
#define TEST_MODULES_SERVICES_SLOTS_H

enum services_slot {
    /* MemoryServices */
    kSlotHeapCreate,
    kSlotProcessHeap,
    kSlotHeapZeroed, /* a reused block came back zeroed */
    kSlotHeapPlain,  /* a block without HEAP_ZERO_MEMORY is usable */
    kSlotHeapFree,
    kSlotHeapDestroy,
    kSlotGlobalZeroed,
    kSlotGlobalLockIsHandle,
    kSlotGlobalHandleIsPointer,
    kSlotGlobalUnlock,
    kSlotGlobalFree,
    kSlotLocalZeroed,
    kSlotLocalLockIsHandle,
    kSlotLocalFree,
    kSlotMallocBlock,
    kSlotNewBlock,
    kSlotVirtualReadWrite, /* address: 1 byte, PAGE_READWRITE */
    kSlotVirtualReadOnly,  /* address: 5000 bytes, PAGE_READONLY */
    kSlotVirtualExact,     /* address asked for */
    kSlotVirtualTaken,     /* address: asked for the module's own base */
    kSlotVirtualWritable,  /* the read-write area holds what was written */
    kSlotVirtualFreeImage, /* VirtualFree of the module's own image */
    kSlotVirtualFreeNull,
    kSlotVirtualAllocZero, /* VirtualAlloc of 0 bytes */
    kSlotBadReadNull,
    kSlotBadReadNullEmpty,
    kSlotBadReadGood,
    kSlotBadWriteHigh,
    kSlotBadWriteEnd,
    /* FreeAreas */
    kSlotVirtualFreeInside,
    kSlotVirtualFreeAgain,
    kSlotVirtualFreeReadOnly,
    kSlotVirtualFreeExact,
    kSlotVirtualFreeTaken,
    /* ModuleServices */
    kSlotModuleHandleNull,
    kSlotModuleHandleName,
    kSlotFeature3,
    kSlotFeature4,
    kSlotIsTNT,
    kSlotFakeOther,
    kSlotHelperLoaded,
    kSlotHelperAttaches,
    kSlotHelperMissing,
    kSlotHelperFreed,
    kSlotOwnOrdinal, /* result of the export found by ordinal */
    kSlotMissingOrdinal,
    kSlotFileNameLength,
    kSlotFileNameCut,
    kSlotFileNameFake,
    kSlotFileNameOne,
    kSlotFileNameNullBuffer,
    kSlotFileNameBadBuffer,
    kSlotFileNameTexts, /* address: four 16-byte texts */
    kSlotDisableThreadCalls,
    kSlotLoadNull,
    kSlotDriverNull,
    /* ProcessServices */
    kSlotVersion,
    kSlotVersionEx,
    kSlotVersionExNull,
    kSlotVersionExEnd,
    kSlotCommandLine,     /* address */
    kSlotEnvironment,     /* address */
    kSlotWideEnvironment, /* address */
    kSlotFreeEnvironment,
    kSlotStartupZeroed, /* all 68 bytes zero, the byte after untouched */
    kSlotStdInput,
    kSlotStdOutput,
    kSlotStdError,
    kSlotStdOther,
    kSlotFileType,
    kSlotHandleCount,
    kSlotExceptionFilter,
    kSlotACP,
    kSlotCPInfo,
    kSlotCPInfoUntouched,
    kSlotUpperA,
    kSlotUpperZ,
    kSlotUpperDigit,
    kSlotUpperEOF,
    kSlotUpperHigh,
    kSlotUpperLarge,
    kSlotMulDivHalf,
    kSlotMulDivNegativeHalf,
    kSlotMulDivOverflow,
    kSlotMulDivByZero,
    kSlotMulDivLarge,
    kSlotMulDivSigns,
    kSlotMulDivMinimum,
    kSlotMulDivMinimumOverflow,
    kSlotLastError,
    kSlotLastErrorCleared,
    kSlotSystemInfo,                        /* 9 slots: the 36 bytes of SYSTEM_INFO */
    kSlotVersionInfo = kSlotSystemInfo + 9, /* 7 slots: OSVERSIONINFOA bytes 0-27 */
    /* TextConversion */
    kSlotWideSize = kSlotVersionInfo + 7,
    kSlotWideCut,
    kSlotWideCutBytes, /* the bytes written, little-endian, guard after */
    kSlotWideAccent,
    kSlotWideAccentBytes,
    kSlotWideTerminated,     /* count 0: up to the 0 unit */
    kSlotWideWithTerminator, /* count -1: with it */
    kSlotWideSubstitute,
    kSlotWideSubstituteBytes,
    kSlotWideBadSource,
    kSlotWideBadTarget,
    kSlotNarrowSize,
    kSlotNarrowStored,
    kSlotNarrowUnit,
    kSlotNarrowCounted,
    kSlotNarrowCountedUnits, /* units 0 and 1 */
    kSlotNarrowBadSource,
    kSlotNarrowBadTarget,
    kSlotNarrowInvalid,
    kSlotNarrowInvalidUnit,
    /* LongText: 5000 units, pieces cut inside a surrogate pair and inside a
       UTF-8 sequence */
    kSlotLongWideSize,
    kSlotLongWideStored,
    kSlotLongNarrowSize,
    kSlotLongNarrowStored,
    /* Formatting: results of each call; the texts are in the text block */
    kSlotPrintfDecimal,
    kSlotVprintfDecimal,
    kSlotPrintfMixed,
    kSlotPrintfStrings,
    kSlotPrintfStars,
    kSlotPrintfWide,
    kSlotPrintfLong,
    kSlotPrintfBadBuffer,
    kSlotPrintfNoFormat,
    kSlotPrintfCountUntouched, /* %n wrote nothing */
    /* Resources */
    kSlotStringFull,
    kSlotStringCut,
    kSlotStringOne,
    kSlotStringZero,
    kSlotStringZeroUntouched,
    kSlotStringMissing,
    kSlotStringAccent,
    kSlotStringOtherModule,
    kSlotStringBadBuffer,
    kSlotResourceData, /* first word of RCDATA 5 */
    kSlotResourceSize,
    kSlotResourceLocked,
    kSlotResourceNamed, /* size of the named resource */
    kSlotResourceStringType,
    kSlotResourceNumberName,
    kSlotResourceStringBlock,
    kSlotResourceMissing,
    kSlotResourceOtherModule,
    kSlotResourceMarkerLoad,
    kSlotResourceMarkerSize,
    kSlotResourceBadName,
    kSlotIcon, /* first word of the icon's data */
    kSlotIconMissing,
    kSlotDialogFound,
    /* Dialogs */
    kSlotDialogResult,
    kSlotDialogMissingResult,
    kSlotDialogNullProcedure,
    kSlotDialogCalls,
    kSlotDialogWindow,
    kSlotDialogMessage,
    kSlotDialogWParam,
    kSlotDialogLParam,
    kSlotSetItemText,
    kSlotSetItemInt,
    kSlotGetItem,
    kSlotScrollRange,
    kSlotScrollPos,
    kSlotGetDC,
    kSlotDeviceCaps,
    kSlotDefDriverProc,
    kSlotCount
};

/* Offsets of the formatted texts in the Formatting text block. */
enum services_text {
    kTextDecimal = 0,
    kTextVprintf = 0x100,
    kTextMixed = 0x200,
    kTextStrings = 0x300,
    kTextStars = 0x400,
    kTextWide = 0x500,
    kTextStringFull = 0x600,
    kTextStringCut = 0x700,
    kTextStringAccent = 0x800,
    kTextLong = 0x1000, /* 8192 bytes and a guard */
    kTextBlockSize = 0x4000
};

/* Offsets in the LongText block. */
enum services_long_text {
    kLongWide = 0,       /* 5000 units */
    kLongNarrow = 10000, /* their UTF-8, 9999 bytes */
    kLongBack = 22000,   /* converted back */
    kLongBlockSize = 32768
};

#endif
