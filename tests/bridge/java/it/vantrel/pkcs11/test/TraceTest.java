package it.vantrel.pkcs11.test;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import org.junit.jupiter.api.Test;

/** Exact trace text of the frame and the module natives, each run in its own JVM. */
class TraceTest {
    private static final String LOAD =
            "JNI: start loadPKCS11Library (arg= %s)\n"
            + "JNI:BRIDGE: Start loading library... Done: {addr}\n"
            + "JNI:BRIDGE: Getting FuncList address... Done: {addr}\n"
            + "JNI:BRIDGE: Calling FuncList... Done: {addr}\n"
            + "JNI: library loaded: (FuncList ptr={addr})\n"
            + "JNI: end loadPKCS11Library\n";

    private static final String LIFECYCLE = LOAD
            + "JNI: PKCS11.libInitialize\n"
            + "JNI:BRIDGE: Initializing... Done: 0\n"
            + "JNI: start PKCS11.getInfo\n"
            + "JNI:BRIDGE: Calling C_GetInfo... Done\n"
            + "JNI: creating jobject PKCS11Info...OK\n"
            + "JNI: start PKCS11.getSlotList\n"
            + "JNI:BRIDGE: Calling C_GetSlotList... (slots=3)... 0 Done\n"
            + "JNI: creating array of 3 PKCS11Slot\n"
            + "JNI: adding element 0 ... value= 0 ... OK\n"
            + "JNI: adding element 1 ... value= 1 ... OK\n"
            + "JNI: adding element 2 ... value= 5 ... OK\n"
            + "JNI: start PKCS11.getBridgeVersion: 1.16\n"
            + "JNI: PKCS11.libFinalize\n"
            + "JNI:BRIDGE: Finalizing... Done: 0\n";

    private static final String[] LIFECYCLE_STEPS = {"load=script", "init", "info", "slots=false", "version", "final"};

    private static void assertTrace(String expected, String actual) {
        assertTrue(BridgeProcess.matches(expected, actual), "expected:\n" + expected + "\nactual:\n" + actual);
    }

    @Test
    void debugOneOrEmptyTracesToStandardOutput() {
        for (String debug : new String[] {"1", ""}) {
            ScriptModule.script("slots 0 1 5");
            BridgeProcess run = BridgeProcess.run(debug, "lifecycle", LIFECYCLE_STEPS);
            assertTrace(String.format(LIFECYCLE, ScriptModule.path()), run.stdout);
            assertEquals(0, run.exitCode, run.stderr);
        }
    }

    @Test
    void withoutTheVariableNothingIsWritten() {
        ScriptModule.script("slots 0 1 5");
        BridgeProcess run = BridgeProcess.run(null, "quiet", LIFECYCLE_STEPS);
        assertEquals("", run.stdout);
        assertTrue(run.stderr.contains("version -> 1.16"), run.stderr);
    }

    @Test
    void debugStartingWithTwoRedirectsToTheTraceFile() {
        for (String debug : new String[] {"2", "25"}) {
            ScriptModule.script("slots 0 1 5");
            BridgeProcess run = BridgeProcess.run(debug, "redirect", LIFECYCLE_STEPS);
            assertEquals("redirecting stdout on jpkcs110.log ", run.stdout);
            assertTrace(String.format(LIFECYCLE, ScriptModule.path()), run.traceFile());
        }
    }

    @Test
    void conversionErrorLineIsWrittenEvenWithoutTrace() {
        ScriptModule.script("info.manufacturerID Bad\u00fftext");
        BridgeProcess run = BridgeProcess.run(null, "conversion", "load=script", "init", "info", "final");
        assertEquals("JNI:##########ERROR################\n", run.stdout);
        assertTrue(run.stderr.contains("info -> true"), run.stderr);
    }

    @Test
    void failuresTraceHowTheyAreThrown() {
        ScriptModule.script("rv.C_GetInfo 0x80000010", "rv.C_GetSlotList 0xA0");
        BridgeProcess run = BridgeProcess.run("1", "failures", "load=/nonexistent/module.so", "load=nolist",
                "load=script", "info", "init", "info", "slots=true", "wait", "final");
        String expected = "JNI: start loadPKCS11Library (arg= /nonexistent/module.so)\n"
                + "JNI:BRIDGE: Start loading library... Done: 0\n"
                + "JNI: Throwing exc number 80000001...JNI: Throwing vendor defined exc 'Internal error'... Done\n"
                + "JNI: start loadPKCS11Library (arg= " + ScriptModule.pathWithoutFunctionList() + ")\n"
                + "JNI:BRIDGE: Start loading library... Done: {addr}\n"
                + "JNI:BRIDGE: Getting FuncList address... Done: 0\n"
                + "JNI: Throwing exc number 80000001...JNI: Throwing vendor defined exc 'Internal error'... Done\n"
                + String.format(LOAD, ScriptModule.path())
                + "JNI: start PKCS11.getInfo\n"
                + "JNI: Throwing exc number 80000003...JNI: Throwing vendor defined exc 'Internal error'... Done\n"
                + "JNI: PKCS11.libInitialize\n"
                + "JNI:BRIDGE: Initializing... Done: 0\n"
                + "JNI: start PKCS11.getInfo\n"
                + "JNI:BRIDGE: Calling C_GetInfo... Done\n"
                + "JNI: Throwing exc number 80000010...JNI: Throwing vendor defined exc 'Internal error'... Done\n"
                + "JNI: start PKCS11.getSlotList\n"
                + "JNI:BRIDGE: Calling C_GetSlotList... (slots=0)... 160"
                + "JNI: Throwing exc number a0... Done\n"
                + "JNI: Throwing vendor defined exc 'Not supported'... Done\n"
                + "JNI: PKCS11.libFinalize\n"
                + "JNI:BRIDGE: Finalizing... Done: 0\n";
        assertTrace(expected, run.stdout);
        assertTrue(run.stderr.contains("slots=true -> exception 0xa0 false"), run.stderr);
    }

    @Test
    void softHsmLifecycleTrace() {
        BridgeProcess run = BridgeProcess.run("1", "softhsm", "load=softhsm", "init", "slots=true", "final");
        String expected = String.format(LOAD, SoftHsm.path())
                + "JNI: PKCS11.libInitialize\n"
                + "JNI:BRIDGE: Initializing... Done: 0\n"
                + "JNI: start PKCS11.getSlotList\n"
                + "JNI:BRIDGE: Calling C_GetSlotList... (slots=2)... 0 Done\n"
                + "JNI: creating array of 2 PKCS11Slot\n"
                + "JNI: adding element 0 ... value= {addr} ... OK\n"
                + "JNI: adding element 1 ... value= {addr} ... OK\n"
                + "JNI: PKCS11.libFinalize\n"
                + "JNI:BRIDGE: Finalizing... Done: 0\n";
        assertTrace(expected, run.stdout);
    }
}
