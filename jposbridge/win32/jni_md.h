/*
 * Machine-dependent part of the Java Native Interface for Windows (32-bit
 * and 64-bit), for building the bridge where no Windows JDK is installed. The JDK's own
 * jni.h includes it; the types follow the JNI documentation (jint 32-bit,
 * jlong 64-bit, jbyte signed 8-bit) and Windows' export and calling
 * conventions.
 */
#ifndef SORJNI_WIN32_JNI_MD_H
#define SORJNI_WIN32_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef __int64 jlong;
typedef signed char jbyte;

#endif
