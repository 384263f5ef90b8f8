<?php
// The report server of the tests: PHP parses the multipart/form-data body
// itself ($_POST, $_FILES); this script stores what arrived, in arrival
// order, where the test reads it:
//   requests.log  one line per request
//   fields.txt    "name=<hex of the value's bytes>" per text field
//   files.txt     "name=<file name>=<size>" per file field; the file itself
//                 as file_<name>
// REPORT_MODE=500 answers every request with status 500 after storing it.
$store = getenv('REPORT_STORE');
file_put_contents("$store/requests.log", $_SERVER['REQUEST_METHOD'] . ' ' .
                  $_SERVER['REQUEST_URI'] . ' ' . ($_SERVER['CONTENT_TYPE'] ?? '') . "\n",
                  FILE_APPEND);
$fields = '';
foreach ($_POST as $name => $value) {
    $fields .= $name . '=' . bin2hex($value) . "\n";
}
file_put_contents("$store/fields.txt", $fields, FILE_APPEND);
$files = '';
foreach ($_FILES as $name => $file) {
    $files .= $name . '=' . $file['name'] . '=' . $file['size'] . '=' . $file['error'] . "\n";
    if ($file['error'] === UPLOAD_ERR_OK) {
        move_uploaded_file($file['tmp_name'], "$store/file_$name");
    }
}
file_put_contents("$store/files.txt", $files, FILE_APPEND);
if (getenv('REPORT_MODE') === '500') {
    http_response_code(500);
    echo "failed\n";
} else {
    echo "thanks\n";
}
