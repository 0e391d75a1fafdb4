       IDENTIFICATION DIVISION.
       PROGRAM-ID. BENCHB.
       COPY "benchbody.cpy".
