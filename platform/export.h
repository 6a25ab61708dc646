// How the library's entry points are exported. The only place that knows
// the calling conventions and the export mechanism of each platform.
#pragma once

#if defined(_WIN32)
// Names and ordinals come from the module-definition file.
#define SL_EXPORT extern "C"
#define SL_CCALL __cdecl
// The Visual Basic twin: the standard convention (the callee removes the
// arguments), forwarding unchanged to the plain entry point.
#define SL_VB_TWIN(name, params, args)         \
    extern "C" int __stdcall Vb##name params { \
        return name args;                      \
    }
#else
#define SL_EXPORT extern "C" __attribute__((visibility("default")))
#define SL_CCALL
// One calling convention: the twin is a second name of the same function.
#define SL_VB_TWIN(name, params, args)                                    \
    extern "C" __attribute__((visibility("default"))) int Vb##name params \
        __attribute__((alias(#name)));
#endif
