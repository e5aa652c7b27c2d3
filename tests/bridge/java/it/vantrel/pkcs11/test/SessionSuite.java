package it.vantrel.pkcs11.test;

import it.vantrel.pkcs11.PKCS11Exception;
import it.vantrel.pkcs11.nat.NativePKCS11Session;

import org.junit.jupiter.api.AfterEach;

/** Base of the suites that run one scripted session per test; the module is released after each. */
abstract class SessionSuite {
    protected SessionScript script;

    @AfterEach
    void releaseModule() {
        if (script != null) {
            script.release();
        }
    }

    protected NativePKCS11Session bind(String... lines) throws PKCS11Exception {
        script = new SessionScript(lines);
        return script.session;
    }
}
