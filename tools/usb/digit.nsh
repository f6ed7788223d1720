# The digit after %d% in %up% ("none" after 9), for startup.nsh's run numbers.
goto D%d%
:D0
set up 1
goto done
:D1
set up 2
goto done
:D2
set up 3
goto done
:D3
set up 4
goto done
:D4
set up 5
goto done
:D5
set up 6
goto done
:D6
set up 7
goto done
:D7
set up 8
goto done
:D8
set up 9
goto done
:D9
set up none
:done
