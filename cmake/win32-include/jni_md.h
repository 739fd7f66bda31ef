/*
 * The machine-dependent JNI types of a Windows JVM, for the cross-build:
 * Debian's JDKs ship only the Linux variant of this header.
 */
#ifndef _JAVASOFT_JNI_MD_H_
#define _JAVASOFT_JNI_MD_H_

#ifndef JNIEXPORT
#define JNIEXPORT __declspec(dllexport)
#endif
#define JNIIMPORT __declspec(dllimport)
/* The JVM calls natives with __stdcall; it only means something on x86. */
#define JNICALL __stdcall

typedef long jint;
typedef __int64 jlong;
typedef signed char jbyte;

#endif /* !_JAVASOFT_JNI_MD_H_ */
