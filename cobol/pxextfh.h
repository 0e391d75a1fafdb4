// libpxextfh.so: the external file handler PXEXTFH for COBOL programs
// compiled with `cobc -m -fcallfh=PXEXTFH`, and the small C interface the
// launcher's loader uses when it starts the COBOL run-time.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// The handler, as GnuCOBOL calls it: opcode (2 bytes, big-endian) and the
// file's FCD (version 3). Declared with void* so that callers need no libcob
// headers.
int PXEXTFH(unsigned char* opcode, void* fcd);

// Null when the run-time adapter is in effect (libcob 3.1 with this library
// ahead of it in the global symbol scope), else why not. The loader refuses
// to run COBOL programs otherwise: their CANCEL would crash.
const char* PxExtfhAdapterProblem(void);

// A COBOL CALL of a program that is not COBOL goes to `resolve` (the
// launcher's loader): its entry point, or null to let the run-time look for
// it. The loader that calls COBOL programs registers itself and forgets
// itself before it goes (`context` tells which one).
typedef void* (*PxForeignResolver)(void* context, const char* name);
void PxExtfhResolveForeign(PxForeignResolver resolve, void* context);
void PxExtfhForgetForeign(void* context);

// Store files the handler holds open (diagnostics and tests).
int PxExtfhOpenFiles(void);

#ifdef __cplusplus
}
#endif
