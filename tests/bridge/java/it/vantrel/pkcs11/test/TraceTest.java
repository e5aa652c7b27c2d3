package it.vantrel.pkcs11.test;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
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

    private static final String INIT = "JNI: PKCS11.libInitialize\n" + "JNI:BRIDGE: Initializing... Done: 0\n";
    private static final String FINAL = "JNI: PKCS11.libFinalize\n" + "JNI:BRIDGE: Finalizing... Done: 0\n";

    private static String rsaCall(int pinLength, boolean lookUp) {
        return "JNI: start getRSAcredential... \n alias len =5 \nJNI: pin is null ?...  pin len =" + pinLength + " \n"
                + (lookUp ? "JNI:BRIDGE: loaded library?JNI:BRIDGE: getting address... Done: {addr}\n" : "")
                + "JNI:BRIDGE: Calling C_OpenSessionAndGetRSACredential...alias (len=5)...PIN (len=" + pinLength
                + ")... Done(slot=3)\n Done(session=40)\n Done(pPrivate {addr})\n Done(pPublic  {addr})\n"
                + " Done(pCertif. {addr})\n Done(Private=11)\n Done(Public =0)\n Done(Certif.=13)\n"
                + "JNI: creating PKCS11Slot\n value= 3 ... slot OK\n"
                + "JNI: creating PKCS11Session... session OK\n"
                + "JNI: creating array PKCS11Object...JNI: adding element 0 ...11 found OK\n"
                + "JNI: adding element 1 ...NULL found OK\nJNI: adding element 2 ...13 found OK\n";
    }

    @Test
    void rsaExtensionIsLookedUpOnceWhenFound() {
        ScriptModule.script("rsa.slot 3", "rsa.session 40", "rsa.private 11", "rsa.public 0", "rsa.certificate 13");
        BridgeProcess run = BridgeProcess.run("1", "rsa", "load=script", "init", "rsa=alias:2:null",
                "rsa=alias:2:1234", "final");
        assertTrace(String.format(LOAD, ScriptModule.path()) + INIT + rsaCall(0, true) + rsaCall(4, false) + FINAL,
                run.stdout);
    }

    @Test
    void missingRsaExtensionIsLookedUpOnEveryCall() {
        ScriptModule.script("");
        BridgeProcess run = BridgeProcess.run("1", "noext", "load=noext", "init", "rsa=alias:0:null",
                "rsa=alias:0:null", "final");
        String failing = "JNI: start getRSAcredential... \n alias len =5 \nJNI: pin is null ?...  pin len =0 \n"
                + "JNI:BRIDGE: loaded library?JNI:BRIDGE: getting address... Done: 0\n"
                + "JNI: Throwing exc number 80000001... Done\n";
        assertTrace(String.format(LOAD, ScriptModule.pathWithoutExtension()) + INIT + failing + failing + FINAL,
                run.stdout);
        assertTrue(run.stderr.contains("exception 0x80000001 true"), run.stderr);
    }

    @Test
    void slotAndSessionTracesShowHandlesAndPinLengthsOnly() {
        ScriptModule.script("session 7", "mechanisms 1 6", "rv.C_Logout 0xB3");
        BridgeProcess run = BridgeProcess.run("1", "session", "load=script", "init", "slot=2", "slotinfo",
                "tokeninfo", "sn", "mechs", "mechinfo=6", "open=6", "login=false:secret", "sessioninfo", "logout",
                "setpin=old:newer", "close", "closeall", "final");
        String expected = String.format(LOAD, ScriptModule.path()) + INIT
                + "JNI: start PKCS11Slot.getInfo... (slot= 2)\n"
                + "JNI:BRIDGE: Calling C_GetSlotInfo... Done\n"
                + "JNI: creating jobject PKCS11SlotInfo...OK\n"
                + "JNI: start PKCS11Slot.getTokenInfo... (slot= 2)\n"
                + "JNI:BRIDGE: Calling C_GetTokenInfo... Done\n"
                + "JNI: creating jobject PKCS11TokenInfo...OK\n"
                + "JNI: start PKCS11Slot.getTokenSN... (slot= 2)\n"
                + "JNI:BRIDGE: Calling C_GetTokenInfo... Done\n"
                + "JNI: start PKCS11Slot.getMechList... (slot= 2)\n"
                + "JNI:BRIDGE: Calling C_GetMechanismList...(mechs=2)...\n Done\n"
                + "JNI: creating array of 2 Mechanism...OK\n"
                + "JNI: start PKCS11Slot.getMechanismInfo... (slot= 2) (mach=6)\n"
                + "JNI:BRIDGE: Calling C_GetMechanismInfo... Done\n"
                + "JNI: creating jobject PKCS11MechanismInfo...OK\n"
                + "JNI: start PKCS11Slot.openSession... (slot= 2)\n"
                + "JNI:BRIDGE: Calling C_OpenSession... Done(session=7)\n"
                + "JNI: creating jobject NativePKCS11Session...OK\n"
                + "JNI: start PKCS11Session.login... (session= 7)\n"
                + "JNI:BRIDGE: Calling C_Login (l=6)... Done\n"
                + "JNI: start PKCS11Session.getInfo... (session= 7)\n"
                + "JNI:BRIDGE: Calling C_GetSessionInfo... Done\n"
                + "JNI: creating jobject PKCS11SessionInfo...OK\n"
                + "JNI: start PKCS11Session.logout... (session= 7)\n"
                + "JNI:BRIDGE: Calling C_Logout ... Done\n"
                + "JNI: Throwing exc number b3... Done\n"
                + "JNI: start PKCS11Session.setPin... (session= 7)\n"
                + "JNI:BRIDGE: Calling C_SetPIN... Done\n"
                + "JNI: start PKCS11Session.closeSession... (session= 7)\n"
                + "JNI:BRIDGE: Calling C_CloseSession... Done\n"
                + "JNI: start PKCS11Slot.closeAllSessions... (slot= 2)\n"
                + "JNI:BRIDGE: Calling C_CloseAllSessions... Done\n"
                + FINAL;
        assertTrace(expected, run.stdout);
        assertFalse(run.stdout.contains("secret") || run.stdout.contains("newer"));
    }
}
