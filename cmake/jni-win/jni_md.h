/* Windows machine-dependent JNI types for the mingw-w64 cross builds. */
#ifndef VANTREL_JNI_MD_H
#define VANTREL_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef int jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
