package bridgetests;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Objects;

/** A minimal test runner: named cases run in order, failures are counted and reported. */
final class Check {
    interface Case {
        void run() throws Exception;
    }

    private static final List<String> failures = new ArrayList<>();

    private Check() {}

    static void run(String name, Case testCase) {
        try {
            testCase.run();
            System.out.println("[ OK ] " + name);
        } catch (Throwable t) {
            failures.add(name);
            System.out.println("[FAIL] " + name + ": " + t);
            t.printStackTrace(System.out);
        }
    }

    /** Exit status of the program: 0 when every case passed. */
    static void finish() {
        if (failures.isEmpty()) {
            System.out.println("all cases passed");
            System.exit(0);
        }
        System.out.println(failures.size() + " failed: " + failures);
        System.exit(1);
    }

    static void equal(Object expected, Object actual, String what) {
        if (!Objects.equals(expected, actual)) {
            throw new AssertionError(what + ": expected <" + expected + "> but was <" + actual + ">");
        }
    }

    static void bytes(byte[] expected, byte[] actual, String what) {
        if (!Arrays.equals(expected, actual)) {
            throw new AssertionError(what + ": expected " + Arrays.toString(expected) + " but was "
                    + Arrays.toString(actual));
        }
    }

    static void isTrue(boolean condition, String what) {
        if (!condition) throw new AssertionError(what);
    }
}
