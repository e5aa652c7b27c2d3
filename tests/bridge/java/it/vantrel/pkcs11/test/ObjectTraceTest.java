package it.vantrel.pkcs11.test;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import org.junit.jupiter.api.Test;

/** Exact lines of the object natives, each run in its own JVM. */
class ObjectTraceTest {
    private static final String INSTALL = "JNI: start PKCS11Session.createObj... (ses=%s)\n"
            + "Label: %s\nLabel: CN=Subject\nLabel: 05\nLabel: CN=Issuer\n";

    private static final String KEY_PAIR_OB = "Start generating keypair...Done.\n"
            + "Clearing memory...\n"
            + "    --> Public attr values done\n...    --> Public attr done\n..."
            + "    --> Private attr value done\n...    --> Private attr done\n...Done.\n";

    /** What the steps wrote after the module was bound and initialised. */
    private static String afterInitialise(String stdout) {
        String initialised = "JNI:BRIDGE: Initializing... Done: 0\n";
        int at = stdout.indexOf(initialised);
        assertTrue(at >= 0, stdout);
        return stdout.substring(at + initialised.length());
    }

    @Test
    void installAndFixedKeyPairsWriteTheirLinesWithoutTracing() {
        ScriptModule.script("keypair.public 12");
        BridgeProcess run = BridgeProcess.runDriver(ObjectScenarios.class, null, "quietscript", "script",
                "install=label", "install=", "ob=true", "ob=false");
        assertEquals(String.format(INSTALL, 7, "label") + String.format(INSTALL, 7, "") + KEY_PAIR_OB + KEY_PAIR_OB,
                run.stdout);
        assertTrue(run.stderr.contains("ob=false -> 2"), run.stderr);
    }

    @Test
    void softHsmRefusalsStillWriteTheLines() {
        BridgeProcess run = BridgeProcess.runDriver(ObjectScenarios.class, null, "quietsofthsm", "softhsm",
                "install=label", "ob=true");
        // The first session SoftHSM2 opens in a process has the handle 1.
        assertEquals(String.format(INSTALL, 1, "label") + "C_CreateObject fails." + KEY_PAIR_OB, run.stdout);
        assertTrue(run.stderr.contains("install=label -> exception 0x12"), run.stderr);
        assertTrue(run.stderr.contains("ob=true -> exception 0x12"), run.stderr);
    }

    @Test
    void tracedObjectCalls() {
        ScriptModule.script("find.handles 4", "object.created 20", "attribute.288 c301", "attribute.0 0100000000000000",
                "attribute.273 0200000400050007");
        BridgeProcess run = BridgeProcess.runDriver(ObjectScenarios.class, "1", "traced", "script", "create", "find",
                "getbig=0x120", "getint=0", "getdate=0x111", "genkeypair", "setlong");
        assertEquals("JNI: start PKCS11Session.createObj... (ses=7)\n"
                + "JNI:BRIDGE: Calling C_CreateObject... Done\n"
                + "JNI: createObject PKCS11Session.createObj...\n"
                + "JNI: creating PKCS11Object (20)...OK\n"
                + "JNI: free PKCS11Session.createObj...\n"
                + "JNI: free(ckAttr) PKCS11Session.createObj...\n"
                + "JNI: start PKCS11Session.findObjectsInit... (session= 7)\n"
                + "JNI:BRIDGE: Calling C_FindObjectsInit ... Done\n"
                + "JNI: start PKCS11Session.findObject... (session= 7)\n"
                + "JNI:BRIDGE: Calling C_FindObjects ... Done(found=1)\n"
                + "JNI: creating PKCS11Object (4)...OK\n"
                + "JNI: start PKCS11Session.findObject... (session= 7)\n"
                + "JNI:BRIDGE: Calling C_FindObjects ... Done(found=0)\n"
                + "JNI: No more objects (NULL found)\n"
                + "JNI: start PKCS11Session.findObjectsFinal... (session= 7)\n"
                + "JNI:BRIDGE: Calling C_FindObjectsFinal ... Done\n"
                + "JNI: start PKCS11Object.getAttr(288)... (obj= 5)(ses=7)\n"
                + "JNI:BRIDGE: Calling C_GetAttributeValue...(len=2)... Done\n"
                + "JNI: creating jobject BigInteger...OK\n"
                + "JNI: start PKCS11Object.getAttr(0)... (obj= 5)(ses=7)\n"
                + "JNI:BRIDGE: Calling C_GetAttributeValue...(len=8)... Done\n"
                + "JNI: creating jobject Integer...OK\n"
                + "JNI: start PKCS11Object.getDateAttr(273)... "
                + "JNI:BRIDGE: Calling C_GetAttributeValue...(len=8)... Done\n"
                + "JNI: creating jobject Date...OK\n"
                + "JNI: start PKCS11Session.genKeyPair... (session= 7)\n"
                + "JNI: parse public values...\n"
                + "JNI: parse private values...\n"
                + "JNI:BRIDGE: Calling C_GenerateKeyPair ... Done\n"
                + "JNI: creating 2 jobject PKCS11Object...OK\n"
                + "JNI: start PKCS11Object.setAttrValues... (obj= 5)(ses=7)\n"
                + "\nERROR: cannot parse passed object 2\n", afterInitialise(run.stdout));
        assertTrue(run.stderr.contains("setlong -> ok"), run.stderr);
    }
}
