package it.vantrel.pkcs11.test;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.List;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

/**
 * Every native of the bridge called with hostile arguments, in a JVM that checks each JNI
 * call: the JVM survives, each call answers with a result or a PKCS11Exception, and the JNI
 * checker finds nothing to warn about.
 */
class HostileCallerTest {
    /** Answers a faulty module might give: all-ones sizes, lengths claimed beyond the room given, bad texts. */
    private static final String[] LYING_SCRIPT = {
        "slots 1 2", "slots.count 0xFFFFFFFFFFFFFFFF", "mechanisms.count 0xFFFFFFFF", "mechanisms.growBy 5",
        "find.handles 1 2 3 4 5", "session 0xFFFFFFFFFFFFFFFF", "key.generated 0xFFFFFFFFFFFFFFFF",
        "out.C_Sign " + "ab".repeat(300), "claim.C_Sign 0xFFFFFFFFFFFFFFFF", "claim.C_Decrypt 0x80000000",
        "claim.C_Encrypt 0x7FFFFFFF", "claim.C_WrapKey 100000", "attribute.17.length 0xFFFFFFFFFFFFFFFF",
        "attribute.3 c3", "attribute.2147500032.claim 1000", "info.manufacturerID \u00ff\u00fe\u00c3",
        "token.label \u00c0\u0080", "rsa.private 0xFFFFFFFFFFFFFFFF"};

    @ParameterizedTest
    @ValueSource(strings = {"unbound", "script", "lying"})
    void everyNativeSurvivesHostileArguments(String phase) {
        ScriptModule.script(phase.equals("lying") ? LYING_SCRIPT : new String[] {"find.handles 5"});
        BridgeProcess run = BridgeProcess.runDriverWithOptions(HostileCalls.class, List.of("-Xcheck:jni"), null, phase,
                phase);
        assertEquals(0, run.exitCode, run.stderr);
        Matcher summary = Pattern.compile("hostile calls: (\\d+), unexpected: (\\d+)").matcher(run.stderr);
        assertTrue(summary.find(), run.stderr);
        assertTrue(Integer.parseInt(summary.group(1)) > 500, summary.group());
        assertEquals("0", summary.group(2), run.stderr);
        assertFalse(run.stderr.contains("WARNING in native method"), run.stderr);
        assertFalse(run.stderr.contains("FATAL ERROR"), run.stderr);
    }
}
